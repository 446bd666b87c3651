// The settings file reader on arbitrary bytes: it refuses or accepts without
// crashing, and whatever it accepts writes out and reads again to the same
// document and the same text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lumenhollow/platform/settings_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto first = lumenhollow::parseSettingsJson(text);
    if (!first) return 0;
    const std::string written = lumenhollow::formatSettingsJson(first.value());
    const auto second = lumenhollow::parseSettingsJson(written);
    if (!second || !(second.value() == first.value())) std::abort();
    if (lumenhollow::formatSettingsJson(second.value()) != written) std::abort();
    return 0;
}
