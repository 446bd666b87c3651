#pragma once

// Reading files that come from outside the program (the user's folders, a
// take folder, a look the user picked) within bounds. The file is opened
// without blocking and without becoming a controlling terminal, must be a
// regular file (a FIFO, device or directory is refused before any read, so a
// FIFO cannot hold up the caller and /dev/zero cannot fill memory), and is
// refused past a size limit chosen for its kind, both from its stated size
// and while reading, in case it grows. A path holding a NUL byte is refused
// rather than opened cut short. Any thread; no state.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/result.h"
#include "hollowkit/base/unique_fd.h"

namespace hollowkit {

struct FileReadError {
    enum class Kind : uint8_t {
        none = 0,
        invalidPath,    // empty, or holds a NUL byte
        cannotOpen,     // errorNumber says why (ENOENT, EACCES, ELOOP ...)
        notRegularFile, // a directory, FIFO, socket or device
        tooLarge,       // sizeBytes (at least) is beyond limitBytes
        readFailed,     // errorNumber says why
    };

    Kind kind = Kind::none;
    // The path as given (NUL bytes shown as "\0").
    std::string file;
    int errorNumber = 0;
    uint64_t sizeBytes = 0;
    uint64_t limitBytes = 0;

    // Why, without the file: "is not a regular file", "is too large (129
    // MB; at most 64 MB is read)", "could not be opened: No such file or
    // directory".
    std::string reason() const;
    // Names the file and the reason, e.g. "/home/ann/.config/user-dirs.dirs is
    // not a regular file" or "Cursor.json is too large (129 MB; at most 64 MB
    // is read)".
    std::string userMessage() const;
    bool operator==(const FileReadError&) const = default;
};

// "is too large (1.34 MB; at most 1 MB is read)": for callers that refuse a
// file by a bound of their own.
std::string tooLargeReason(uint64_t sizeBytes, uint64_t limitBytes);

// A size as a reader takes it in at a glance: exact bytes below a kilobyte,
// else KB or MB (of 1024 and 1024²) to three significant figures, cut, not
// rounded: "512 bytes", "68.3 KB", "1.34 MB", "600 MB".
std::string byteSizeText(uint64_t bytes);
// Two sizes to be told apart (a size and its limit): as byteSizeText, or in
// exact bytes both when different sizes would read the same.
std::pair<std::string, std::string> byteSizeTexts(uint64_t first, uint64_t second);

// An open regular file read in pieces, never past `limitBytes` in all.
class BoundedFile {
public:
    static Result<BoundedFile, FileReadError> open(const std::filesystem::path& path, uint64_t limitBytes);

    BoundedFile(BoundedFile&&) noexcept = default;
    BoundedFile& operator=(BoundedFile&&) noexcept = default;

    // The size the file stated when it was opened.
    uint64_t statedSizeBytes() const { return statedSizeBytes_; }

    // Fills the front of `buffer`; 0 at the end of the file. Reading past
    // the limit (a file that grew after it was opened) is `tooLarge`.
    Result<size_t, FileReadError> read(std::span<uint8_t> buffer);

private:
    BoundedFile(UniqueFd fd, std::string file, uint64_t statedSizeBytes, uint64_t limitBytes);

    FileReadError error(FileReadError::Kind kind, int errorNumber = 0) const;

    UniqueFd fd_;
    std::string file_;
    uint64_t statedSizeBytes_ = 0;
    uint64_t limitBytes_ = 0;
    uint64_t readBytes_ = 0;
};

// The whole file, at most `limitBytes` of it.
Result<Bytes, FileReadError> readBoundedFile(const std::filesystem::path& path, uint64_t limitBytes);
Result<std::string, FileReadError> readBoundedText(const std::filesystem::path& path, uint64_t limitBytes);

}  // namespace hollowkit
