#pragma once

// StatvfsDiskSpace: DiskSpace from statvfs(2): the blocks available to an
// unprivileged user (the root reserve left out) times the fragment size.
// Stateless; any thread.

#include "lumenhollow/platform/disk_space.h"

namespace lumenhollow {

class StatvfsDiskSpace final : public DiskSpace {
public:
    std::optional<uint64_t> availableBytes(const std::filesystem::path& folder) const override;
};

}  // namespace lumenhollow
