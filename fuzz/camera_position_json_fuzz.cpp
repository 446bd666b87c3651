// The saved camera position's JSON reader on arbitrary bytes: it refuses or
// accepts without crashing, and a position it accepts writes back out and
// reads again to the same value.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hollowkit/camera/camera_types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using hollowkit::CameraPosition;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto position = CameraPosition::fromJson(text);
    if (!position) return 0;
    if (!std::isfinite(position->pan) || !std::isfinite(position->tilt)) std::abort();
    const auto json = position->toJson();
    if (!json) std::abort();
    const auto again = CameraPosition::fromJson(*json);
    if (!again || *again != *position) std::abort();
    return 0;
}
