#include "lumenhollow/testing/fake_file_picker.h"

#include <utility>

namespace lumenhollow {

void FakeFilePicker::chooseFiles(FileChoiceRequest request, FilesChosen completion) {
    requests_.push_back(std::move(request));
    pending_ = std::move(completion);
}

bool FakeFilePicker::choose(std::vector<std::filesystem::path> files) {
    return answer(std::move(files));
}

bool FakeFilePicker::cancel() {
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
