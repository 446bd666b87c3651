#pragma once

// FakeDiskSpace: DiskSpace answering what the test set (or nothing, as a
// failing query does) and recording the folders asked about. Any thread.

#include <mutex>
#include <vector>

#include "lumenhollow/platform/disk_space.h"

namespace lumenhollow {

class FakeDiskSpace final : public DiskSpace {
public:
    void setAvailableBytes(std::optional<uint64_t> bytes);

    std::optional<uint64_t> availableBytes(const std::filesystem::path& folder) const override;

    std::vector<std::filesystem::path> queries() const;

private:
    mutable std::mutex mutex_;
    std::optional<uint64_t> bytes_;                        // guarded by mutex_
    mutable std::vector<std::filesystem::path> queries_;  // guarded by mutex_
};

}  // namespace lumenhollow
