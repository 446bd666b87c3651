// The "Cursor.json" reader on arbitrary bytes: it refuses or accepts without
// crashing, and whatever it accepts writes back out and reads again to the
// same timeline.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hollowkit/recording/cursor_timeline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using hollowkit::CursorTimeline;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto decoded = CursorTimeline::decode(text);
    if (!decoded) return 0;
    const auto encoded = decoded.value().encode();
    if (!encoded) std::abort();  // everything read is finite, so it can be written
    const auto again = CursorTimeline::decode(encoded.value());
    if (!again || !(again.value() == decoded.value())) std::abort();
    const auto& timeline = decoded.value();
    (void)timeline.pressOnsets();
    if (!timeline.samples.empty()) (void)timeline.position(timeline.samples.front().time + 0.01);
    return 0;
}
