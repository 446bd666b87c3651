#include "hollowkit/base/new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "hollowkit/base/atomic_file.h"
#include "hollowkit/base/unique_fd.h"

namespace hollowkit {
namespace {

std::error_code errorOf(int error) {
    return std::error_code(error, std::generic_category());
}

// The whole of `data` in `fd`, with `permissions`, flushed: without the
// flush a crash soon after the file is named can leave it empty under its
// name (delayed allocation).
std::error_code writeWhole(int fd, std::string_view data, std::filesystem::perms permissions) {
    if (std::error_code error = writeAll(fd, data)) return error;
    if (::fchmod(fd, static_cast<mode_t>(permissions)) != 0) return errorOf(errno);
    if (::fsync(fd) != 0) return errorOf(errno);
    return {};
}

// Makes a rename or link in `folder` durable. The file is in place already,
// so a failure here is not reported.
void syncFolder(const std::filesystem::path& folder) {
    if (UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); directory) {
        ::fsync(directory.get());
    }
}

}  // namespace

std::error_code renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return errorOf(errno);
    // A file system without the no-replace rename: a link fails on a name
    // that is taken, as the rename would.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return errorOf(errno);
    // No hard links either (FAT): the best left is to look first.
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0) return errorOf(EEXIST);
    if (::rename(from.c_str(), to.c_str()) != 0) return errorOf(errno);
    return {};
}

namespace detail {

Result<std::filesystem::path, std::error_code> writeNewFileByRename(const std::filesystem::path& folder,
                                                                    std::string_view data,
                                                                    std::filesystem::perms permissions,
                                                                    const std::function<std::string(int)>& nameFor,
                                                                    int tries) {
    // Hidden, so one a crash leaves does not show among the user's files; in
    // the same folder, so the rename stays on one file system.
    std::string temporary = (folder / ("." + nameFor(1) + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) return unexpected(errorOf(errno));

    std::error_code error = writeWhole(fd.get(), data, permissions);
    if (!error && ::close(fd.release()) != 0) error = errorOf(errno);
    std::filesystem::path written;
    for (int n = 1; !error; ++n) {
        const std::filesystem::path name = folder / nameFor(n);
        error = renameWithoutReplacing(temporary, name);
        if (!error) {
            written = name;
            break;
        }
        if (error != std::errc::file_exists || n >= tries) break;
        error.clear();
    }
    if (error) {
        ::unlink(temporary.c_str());
        return unexpected(error);
    }
    syncFolder(folder);
    return written;
}

}  // namespace detail

Result<std::filesystem::path, std::error_code> writeNewFile(const std::filesystem::path& folder,
                                                            std::string_view data,
                                                            std::filesystem::perms permissions,
                                                            const std::function<std::string(int)>& nameFor,
                                                            int tries) {
    // The data goes into a file that has no name yet, so a crash before it
    // is whole leaves nothing behind; the kernel frees it with its last
    // descriptor.
    UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd) {
        // A file system without unnamed files goes by a hidden temporary.
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
            return detail::writeNewFileByRename(folder, data, permissions, nameFor, tries);
        }
        return unexpected(errorOf(errno));
    }
    if (const std::error_code error = writeWhole(fd.get(), data, permissions)) return unexpected(error);
    // Named by a link through /proc (a link from the descriptor itself
    // needs a privilege), which fails on a name that is taken.
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    for (int n = 1;; ++n) {
        const std::filesystem::path name = folder / nameFor(n);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            syncFolder(folder);
            return name;
        }
        const int failed = errno;
        const bool noProc = failed == ENOENT && ::access(self.c_str(), F_OK) != 0;
        if (noProc || failed == EPERM || failed == EOPNOTSUPP || failed == EMLINK) {
            // No /proc, or no links here: the file is written once more, the
            // other way.
            return detail::writeNewFileByRename(folder, data, permissions, nameFor, tries);
        }
        if (failed != EEXIST || n >= tries) return unexpected(errorOf(failed));
    }
}

}  // namespace hollowkit
