#pragma once

// FrameSizeChange: one change of the camera's picture size during a movie
// recording, and "Camera.json", the compact JSON array of them that a
// screen-and-camera take keeps beside its movies. Plain values, any thread.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/held_folder.h"
#include "hollowkit/base/result.h"

namespace hollowkit {

struct FrameSizeChange {
    double time = 0;  // seconds from the movie's start; never negative, 0 for the first entry
    int width = 0;
    int height = 0;

    bool operator==(const FrameSizeChange&) const = default;

    // The size as floating point, for drawing.
    double widthF() const { return static_cast<double>(width); }
    double heightF() const { return static_cast<double>(height); }
    bool isLandscape() const { return height < width; }

    // Compact JSON array of {"time", "width", "height"} objects, in order.
    static std::string encodeAll(std::span<const FrameSizeChange> changes);
    // Parses such an array; keys in any order, other keys ignored. Nothing
    // when the text is not an array of complete, well-typed entries.
    static std::optional<std::vector<FrameSizeChange>> decodeAll(std::string_view json);
    // Writes encodeAll(changes) to `file`, replacing it whole or not at all
    // (a failed write leaves an earlier file as it was). The error names the
    // file and the reason.
    static Result<void, std::string> writeAll(std::span<const FrameSizeChange> changes,
                                              const std::filesystem::path& file);
    // The same as `name` in a held folder (a take's), wherever it now is.
    static Result<void, std::string> writeAll(std::span<const FrameSizeChange> changes, const HeldFolder& folder,
                                              const std::string& name);
    // Reads and decodes a file; nothing when it cannot be read or decoded,
    // is not a regular file or is larger than kMaxFileBytes (logged, except
    // a missing file).
    static std::optional<std::vector<FrameSizeChange>> loadAll(const std::filesystem::path& file);

    // Some twenty thousand turns of the picture: far beyond any take.
    static constexpr uint64_t kMaxFileBytes = uint64_t{1} << 20;
};

// Whether some entry's orientation (landscape when height < width, portrait
// otherwise) differs from the first entry's. False for an empty list.
bool hasMixedOrientation(std::span<const FrameSizeChange> changes);

}  // namespace hollowkit
