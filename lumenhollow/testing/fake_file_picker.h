#pragma once

// FakeFilePicker: a FilePicker that keeps each request and its completion
// until the test answers it with files or a cancel, as a user at the
// dialog would. Main executor only.

#include <filesystem>
#include <optional>
#include <vector>

#include "lumenhollow/platform/file_picker.h"

namespace lumenhollow {

class FakeFilePicker final : public FilePicker {
public:
    void chooseFiles(FileChoiceRequest request, FilesChosen completion) override;

    // Every request made, in order.
    const std::vector<FileChoiceRequest>& requests() const { return requests_; }
    bool isOpen() const { return static_cast<bool>(pending_); }

    // Answer the open request; false when none is open.
    bool choose(std::vector<std::filesystem::path> files);
    bool cancel();

private:
    bool answer(std::optional<std::vector<std::filesystem::path>> files);

    std::vector<FileChoiceRequest> requests_;
    FilesChosen pending_;
};

}  // namespace lumenhollow
