#pragma once

// DiskSpace: how many bytes an ordinary user can still write where the
// recordings go. A folder that does not exist yet is measured on its nearest
// existing parent, which is where it will be created.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace lumenhollow {

class DiskSpace {
public:
    virtual ~DiskSpace() = default;

    // Nothing when no part of the path can be measured. Any thread.
    virtual std::optional<uint64_t> availableBytes(const std::filesystem::path& folder) const = 0;
};

}  // namespace lumenhollow
