#include "lumenhollow/platform/linux/statvfs_disk_space.h"

#include <sys/statvfs.h>

#include <cerrno>

namespace lumenhollow {

std::optional<uint64_t> StatvfsDiskSpace::availableBytes(const std::filesystem::path& folder) const {
    // Walks up from the folder to the first part that exists: the output
    // folder is only created by the first recording, and until then the
    // space it will get is its parent's.
    std::filesystem::path candidate = folder.lexically_normal();
    while (true) {
        struct statvfs info {};
        if (::statvfs(candidate.c_str(), &info) == 0) {
            return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
        }
        if (errno != ENOENT && errno != ENOTDIR) return std::nullopt;
        std::filesystem::path parent = candidate.parent_path();
        if (parent.empty()) parent = ".";
        if (parent == candidate) return std::nullopt;
        candidate = std::move(parent);
    }
}

}  // namespace lumenhollow
