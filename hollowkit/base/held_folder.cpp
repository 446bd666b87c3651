#include "hollowkit/base/held_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

namespace hollowkit {

Result<HeldFolder, std::error_code> HeldFolder::open(const std::filesystem::path& folder) {
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
    int fd = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder that may be written but not listed can still be held; it
    // only cannot be flushed.
    if (fd < 0 && errno == EACCES) fd = ::open(where.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return unexpected(std::error_code(errno, std::generic_category()));
    return HeldFolder(std::make_shared<const UniqueFd>(fd), where);
}

HeldFolder HeldFolder::failed(std::filesystem::path folder, std::error_code why) {
    HeldFolder none;
    none.path_ = std::move(folder);
    none.error_ = why;
    return none;
}

std::filesystem::path HeldFolder::pathOf(const std::string& name) const {
    const std::filesystem::path proc("/proc/self/fd/" + std::to_string(fd()));
    // Without /proc (not mounted, or hidden from this process) the folder's
    // path is all a path-taking reader can be given.
    struct stat held {};
    struct stat seen {};
    if (valid() && ::fstat(fd(), &held) == 0 && ::stat(proc.c_str(), &seen) == 0 && held.st_dev == seen.st_dev &&
        held.st_ino == seen.st_ino) {
        return proc / name;
    }
    return currentPath() / name;
}

bool HeldFolder::isAt(const std::filesystem::path& path) const {
    struct stat held {};
    struct stat named {};
    return valid() && ::fstat(fd(), &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

std::filesystem::path HeldFolder::currentPath() const {
    if (!valid() || isAt(path_)) return path_;
    // The kernel's name for the descriptor: the folder's path as it is now,
    // or one marked " (deleted)", or one from another mount namespace; only
    // a path that leads back to this very folder is told.
    char link[PATH_MAX];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd());
    const ssize_t length = ::readlink(proc.c_str(), link, sizeof link);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof link || link[0] != '/') return path_;
    std::filesystem::path now(std::string(link, static_cast<size_t>(length)));
    return isAt(now) ? now : path_;
}

bool HeldFolder::removed() const {
    struct stat status {};
    return valid() && ::fstat(fd(), &status) == 0 && status.st_nlink == 0;
}

void HeldFolder::sync() const {
    if (valid()) ::fsync(fd());
}

Result<FileInFolder, std::error_code> FileInFolder::at(const std::filesystem::path& path) {
    auto folder = HeldFolder::open(path.has_parent_path() ? path.parent_path() : std::filesystem::path("."));
    if (!folder) return unexpected(folder.error());
    return FileInFolder{std::move(folder).value(), path.filename().string()};
}

FileInFolder FileInFolder::hold(const std::filesystem::path& path) {
    auto place = at(path);
    if (place) return std::move(place).value();
    return FileInFolder{HeldFolder::failed(path.has_parent_path() ? path.parent_path() : std::filesystem::path("."),
                                           place.error()),
                        path.filename().string()};
}

}  // namespace hollowkit
