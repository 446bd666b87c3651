// The "Camera.json" reader on arbitrary bytes: it refuses or accepts
// without crashing, and whatever it accepts writes back out and reads again
// to the same list.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hollowkit/recording/frame_size_change.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using hollowkit::FrameSizeChange;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto decoded = FrameSizeChange::decodeAll(text);
    if (!decoded) return 0;
    for (const auto& change : *decoded) {
        if (!std::isfinite(change.time)) std::abort();
    }
    const auto again = FrameSizeChange::decodeAll(FrameSizeChange::encodeAll(*decoded));
    if (!again || *again != *decoded) std::abort();
    (void)hollowkit::hasMixedOrientation(*decoded);
    return 0;
}
