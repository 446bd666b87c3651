#include "lumenhollow/testing/fake_disk_space.h"

namespace lumenhollow {

void FakeDiskSpace::setAvailableBytes(std::optional<uint64_t> bytes) {
    std::lock_guard lock(mutex_);
    bytes_ = bytes;
}

std::optional<uint64_t> FakeDiskSpace::availableBytes(const std::filesystem::path& folder) const {
    std::lock_guard lock(mutex_);
    queries_.push_back(folder);
    return bytes_;
}

std::vector<std::filesystem::path> FakeDiskSpace::queries() const {
    std::lock_guard lock(mutex_);
    return queries_;
}

}  // namespace lumenhollow
