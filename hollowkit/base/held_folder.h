#pragma once

// HeldFolder: a folder held open, so that the files made, named, checked
// and removed in it stay in that folder whatever happens to its path later:
// moved or renamed, replaced by a link or a file, or covered by a file
// system mounted over it. Everything done through it is relative to the
// descriptor (openat, renameat2, linkat, fstatat, unlinkat), never by path.
// The path it was opened at is kept for logs; where a finished file is
// told (a result, a reveal), currentPath() says where the folder is now.
//
// A copy shares the one descriptor (read-only after opening), which closes
// with the last copy. Any thread.
//
// FileInFolder: one file's name in a held folder, the way the recorders and
// writers are told where their file goes.

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "hollowkit/base/result.h"
#include "hollowkit/base/unique_fd.h"

namespace hollowkit {

class HeldFolder {
public:
    // Holds nothing: fd() is -1 and every call through it fails (EBADF).
    HeldFolder() = default;

    // Opens `folder` (a link to a folder is followed once, now). Readable
    // when it may be, so the folder can be flushed; a folder that may only
    // be searched and written is held all the same. The error is the
    // failing call's errno (ENOTDIR for a file).
    static Result<HeldFolder, std::error_code> open(const std::filesystem::path& folder);

    // A folder that could not be held, standing for it where the failure
    // is to be told later (a writer's start): `why` is the reason.
    static HeldFolder failed(std::filesystem::path folder, std::error_code why);

    int fd() const { return fd_ ? fd_->get() : -1; }
    bool valid() const { return fd() >= 0; }
    const std::filesystem::path& path() const { return path_; }
    // Why it is not held; nothing when it is.
    std::error_code error() const { return error_; }

    // "/proc/self/fd/<fd>/<name>": the file `name` in this folder for a
    // library that takes only a path (FFmpeg's readers). Resolves through
    // the held descriptor, not the folder's path. Where /proc does not show
    // the descriptor, currentPath() / name: the best a path can do.
    std::filesystem::path pathOf(const std::string& name) const;

    // Whether `path` names this folder now (a link at its end not
    // followed): a path another folder has taken over is not this one's.
    bool isAt(const std::filesystem::path& path) const;

    // Where the folder is now: the path it was opened at while that still
    // names it, else the path the kernel keeps for its descriptor when that
    // leads to it (moved or renamed, its old path taken by a link or a
    // file). When neither does (removed, covered by a mount, held by
    // nothing), the path it was opened at. Reads the file system.
    std::filesystem::path currentPath() const;

    // Whether the folder was removed: no name leads to it any more (deleted,
    // or moved to another file system, which copies it and deletes it).
    // Moved or renamed within its file system, it is not. Reads the file
    // system; false when nothing is held.
    bool removed() const;

    // Makes the entries made or renamed in it durable. The files are in
    // place already, so a failure is not reported.
    void sync() const;

private:
    HeldFolder(std::shared_ptr<const UniqueFd> fd, std::filesystem::path path)
        : fd_(std::move(fd)), path_(std::move(path)) {}

    std::shared_ptr<const UniqueFd> fd_;
    std::filesystem::path path_;
    std::error_code error_;
};

struct FileInFolder {
    HeldFolder folder;
    std::string name;  // a name alone, no '/'

    // Holds the parent folder of `path` now; the error is the failing
    // call's errno.
    static Result<FileInFolder, std::error_code> at(const std::filesystem::path& path);
    // The parent folder of `path` held now, or standing for the reason it
    // could not be (HeldFolder::failed).
    static FileInFolder hold(const std::filesystem::path& path);

    // Where the file was when its folder was taken: for logs.
    std::filesystem::path path() const { return folder.path() / name; }
    // Where the file is now, its folder followed wherever it went
    // (HeldFolder::currentPath): the result a recorder or writer reports,
    // so a reveal opens the folder the file is really in.
    std::filesystem::path currentPath() const { return folder.currentPath() / name; }
};

}  // namespace hollowkit
