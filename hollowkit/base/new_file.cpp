#include "hollowkit/base/new_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "hollowkit/base/atomic_file.h"
#include "hollowkit/base/unique_fd.h"

namespace hollowkit {
namespace {

// Names a unique file is tried under before giving up; with 62^6 names a
// second collision is someone making files in a loop.
constexpr int kUniqueAttempts = 100;
// A clearing that takes a new file before its lock is rare; twice in a row
// is another process clearing in a loop.
constexpr int kHoldAttempts = 3;

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

std::string uniqueLetters() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        thread_local std::mt19937 fallback{std::random_device{}()};
        for (unsigned char& byte : random) byte = static_cast<unsigned char>(fallback());
    }
    std::string letters;
    for (const unsigned char byte : random) letters.push_back(kLetters[byte % (sizeof kLetters - 1)]);
    return letters;
}

std::error_code renameWithoutReplacingAt(int fromFolder, const char* from, int toFolder, const char* to) {
    if (::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return errorOf(errno);
    // A file system without the no-replace rename: a link fails on a name
    // that is taken, as the rename would.
    if (::linkat(fromFolder, from, toFolder, to, 0) == 0) {
        ::unlinkat(fromFolder, from, 0);
        return {};
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return errorOf(errno);
    // No hard links either (FAT): the best left is to look first.
    struct stat existing {};
    if (::fstatat(toFolder, to, &existing, AT_SYMLINK_NOFOLLOW) == 0) return errorOf(EEXIST);
    if (::renameat(fromFolder, from, toFolder, to) != 0) return errorOf(errno);
    return {};
}

}  // namespace

std::error_code renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return renameWithoutReplacingAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
}

std::error_code renameWithoutReplacing(const HeldFolder& from, const std::string& fromName, const HeldFolder& to,
                                       const std::string& toName) {
    return renameWithoutReplacingAt(from.fd(), fromName.c_str(), to.fd(), toName.c_str());
}

Result<UniqueFd, std::error_code> createUniqueFile(const HeldFolder& folder, std::string_view prefix,
                                                   std::string& name) {
    for (int attempt = 0; attempt < kUniqueAttempts; ++attempt) {
        std::string candidate(prefix);
        candidate += uniqueLetters();
        UniqueFd fd(::openat(folder.fd(), candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             S_IRUSR | S_IWUSR));
        if (fd) {
            name = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) return unexpected(errorOf(errno));
    }
    return unexpected(errorOf(EEXIST));
}

Result<UniqueFd, std::error_code> createHeldUniqueFile(const HeldFolder& folder, std::string_view prefix,
                                                       std::string& name) {
    for (int attempt = 0; attempt < kHoldAttempts; ++attempt) {
        std::string created;
        auto fd = createUniqueFile(folder, prefix, created);
        if (!fd) return unexpected(fd.error());
        std::error_code error;
        while (::flock(fd->get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                error = errorOf(errno);
                break;
            }
        }
        struct stat status {};
        if (!error && ::fstat(fd->get(), &status) != 0) error = errorOf(errno);
        if (error) {
            ::unlinkat(folder.fd(), created.c_str(), 0);
            return unexpected(error);
        }
        // Unlinked between its making and the lock: made again.
        if (status.st_nlink == 0) continue;
        name = std::move(created);
        return std::move(fd).value();
    }
    return unexpected(errorOf(EAGAIN));
}

namespace detail {

Result<std::filesystem::path, std::error_code> writeNewFileByRename(const HeldFolder& folder, std::string_view data,
                                                                    std::filesystem::perms permissions,
                                                                    const std::function<std::string(int)>& nameFor,
                                                                    int tries) {
    // Hidden, so one a crash leaves does not show among the user's files; in
    // the same folder, so the rename stays on one file system.
    // Held until it has its name, so no clearing of leftovers takes it.
    std::string temporary;
    auto created = createHeldUniqueFile(folder, "." + nameFor(1) + ".", temporary);
    if (!created) return unexpected(created.error());
    UniqueFd fd = std::move(created).value();

    std::error_code error = writeWhole(fd.get(), data, permissions);
    std::string written;
    for (int n = 1; !error; ++n) {
        const std::string name = nameFor(n);
        error = renameWithoutReplacing(folder, temporary, folder, name);
        if (!error) {
            written = name;
            break;
        }
        if (error != std::errc::file_exists || n >= tries) break;
        error.clear();
    }
    if (error) {
        ::unlinkat(folder.fd(), temporary.c_str(), 0);
        return unexpected(error);
    }
    // The data was flushed; a close can report nothing more of it.
    fd.reset();
    folder.sync();
    return folder.path() / written;
}

Result<std::filesystem::path, std::error_code> writeNewFileByRename(const std::filesystem::path& folder,
                                                                    std::string_view data,
                                                                    std::filesystem::perms permissions,
                                                                    const std::function<std::string(int)>& nameFor,
                                                                    int tries) {
    auto held = HeldFolder::open(folder);
    if (!held) return unexpected(held.error());
    return writeNewFileByRename(*held, data, permissions, nameFor, tries);
}

}  // namespace detail

Result<std::filesystem::path, std::error_code> writeNewFile(const HeldFolder& folder, std::string_view data,
                                                            std::filesystem::perms permissions,
                                                            const std::function<std::string(int)>& nameFor,
                                                            int tries) {
    // The data goes into a file that has no name yet, so a crash before it
    // is whole leaves nothing behind; the kernel frees it with its last
    // descriptor.
    UniqueFd fd(::openat(folder.fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (!fd) {
        // A file system without unnamed files goes by a hidden temporary.
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
            return detail::writeNewFileByRename(folder, data, permissions, nameFor, tries);
        }
        return unexpected(errorOf(errno));
    }
    if (const std::error_code error = writeWhole(fd.get(), data, permissions)) return unexpected(error);
    // Named by a link through /proc (a link from the descriptor itself
    // needs a privilege), which fails on a name that is taken; the name is
    // made in the held folder, wherever its path now leads.
    const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
    for (int n = 1;; ++n) {
        const std::string name = nameFor(n);
        if (::linkat(AT_FDCWD, self.c_str(), folder.fd(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            folder.sync();
            return folder.path() / name;
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

Result<std::filesystem::path, std::error_code> writeNewFile(const std::filesystem::path& folder,
                                                            std::string_view data,
                                                            std::filesystem::perms permissions,
                                                            const std::function<std::string(int)>& nameFor,
                                                            int tries) {
    // One folder from the first step to the last, even if its path is
    // moved on meanwhile.
    auto held = HeldFolder::open(folder);
    if (!held) return unexpected(held.error());
    return writeNewFile(*held, data, permissions, nameFor, tries);
}

}  // namespace hollowkit
