#include "lumenhollow/testing/fake_file_picker.h"

#include <utility>

namespace lumenhollow {

void FakeFilePicker::chooseFiles(FileChoiceRequest request, FilesChosen completion) {
    requests_.push_back(std::move(request));
    pending_ = std::move(completion);
}

void FakeFilePicker::chooseFolder(FolderChoiceRequest request, FolderChosen completion) {
    folderRequests_.push_back(std::move(request));
    pendingFolder_ = std::move(completion);
}

bool FakeFilePicker::choose(std::vector<std::filesystem::path> files) {
    return answer(std::move(files));
}

bool FakeFilePicker::chooseFolder(std::filesystem::path folder) {
    if (!pendingFolder_) return false;
    FolderChosen completion = std::exchange(pendingFolder_, nullptr);
    completion(std::move(folder));
    return true;
}

bool FakeFilePicker::cancel() {
    if (pendingFolder_) {
        FolderChosen completion = std::exchange(pendingFolder_, nullptr);
        completion(std::nullopt);
        return true;
    }
    return answer(std::nullopt);
}

bool FakeFilePicker::answer(std::optional<std::vector<std::filesystem::path>> files) {
    if (!pending_) return false;
    // Taken out first: the completion may open the chooser again.
    FilesChosen completion = std::exchange(pending_, nullptr);
    completion(std::move(files));
    return true;
}

}  // namespace lumenhollow
