#pragma once

// FakeFilePicker: a FilePicker that keeps each request and its completion
// until the test answers it with files (or a folder) or a cancel, as a user
// at the dialog would. One chooser is open at a time. Main executor only.

#include <filesystem>
#include <optional>
#include <vector>

#include "lumenhollow/platform/file_picker.h"

namespace lumenhollow {

class FakeFilePicker final : public FilePicker {
public:
    void chooseFiles(FileChoiceRequest request, FilesChosen completion) override;
    void chooseFolder(FolderChoiceRequest request, FolderChosen completion) override;

    // Every request made, in order.
    const std::vector<FileChoiceRequest>& requests() const { return requests_; }
    const std::vector<FolderChoiceRequest>& folderRequests() const { return folderRequests_; }
    bool isOpen() const { return static_cast<bool>(pending_) || static_cast<bool>(pendingFolder_); }

    // Answer the open request; false when none is open (or, for
    // chooseFolder, when the open one asks for files).
    bool choose(std::vector<std::filesystem::path> files);
    bool chooseFolder(std::filesystem::path folder);
    bool cancel();

private:
    bool answer(std::optional<std::vector<std::filesystem::path>> files);

    std::vector<FileChoiceRequest> requests_;
    std::vector<FolderChoiceRequest> folderRequests_;
    FilesChosen pending_;
    FolderChosen pendingFolder_;
};

}  // namespace lumenhollow
