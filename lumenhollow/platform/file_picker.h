#pragma once

// FilePicker: the system's file chooser, asked for existing files to open
// or for one existing folder.
// The application's backend shows a modal dialog; tests answer with a fake.
// Main executor only: a request is made there and its completion runs there
// exactly once, with the chosen files or with nothing when the user
// cancelled. The completion may run before chooseFiles() returns (a modal
// dialog) or later; callers must handle both.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumenhollow {

// A kind of file the chooser offers, by extension ("cube", "png": no dot,
// lower case; matched in any letter case).
struct FileType {
    std::string description;  // "LUT files"
    std::vector<std::string> extensions;

    bool operator==(const FileType&) const = default;
};

struct FileChoiceRequest {
    std::string title;
    bool multipleSelection = false;
    // Every type is offered at once, in this order.
    std::vector<FileType> types;

    bool operator==(const FileChoiceRequest&) const = default;
};

// One folder to choose; files are not offered.
struct FolderChoiceRequest {
    std::filesystem::path startFolder;  // shown first; empty: the chooser's own choice
    std::string prompt;                 // the accepting button ("Rebuild")
    std::string message;                // one line above the list
    bool operator==(const FolderChoiceRequest&) const = default;
};

class FilePicker {
public:
    // Nothing: cancelled. Otherwise the chosen files' absolute paths in the
    // chooser's order.
    using FilesChosen = std::function<void(std::optional<std::vector<std::filesystem::path>> files)>;
    // Nothing: cancelled. Otherwise the chosen folder's absolute path.
    using FolderChosen = std::function<void(std::optional<std::filesystem::path> folder)>;

    virtual ~FilePicker() = default;
    virtual void chooseFiles(FileChoiceRequest request, FilesChosen completion) = 0;
    virtual void chooseFolder(FolderChoiceRequest request, FolderChosen completion) = 0;
};

}  // namespace lumenhollow
