// The settings file reader on arbitrary bytes: it refuses or accepts without
// crashing, and whatever it accepts writes out, indented or compact, and
// reads again to the same document and the same text, the compact text
// never the longer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lumenhollow/platform/settings_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto first = lumenhollow::parseSettingsJson(text);
    if (!first) return 0;
    const lumenhollow::SettingsDocument& document = first.value().document;
    for (const auto layout : {lumenhollow::SettingsLayout::indented, lumenhollow::SettingsLayout::compact}) {
        const std::string written = lumenhollow::formatSettingsJson(document, layout);
        const auto second = lumenhollow::parseSettingsJson(written);
        if (!second || !(second.value().document == document)) std::abort();
        if (second.value().membersWithNumbersOutOfRange != 0 || second.value().membersWithBadText != 0) std::abort();
        if (lumenhollow::formatSettingsJson(second.value().document, layout) != written) std::abort();
    }
    if (lumenhollow::formatSettingsJson(document, lumenhollow::SettingsLayout::compact).size() >
        lumenhollow::formatSettingsJson(document).size()) {
        std::abort();
    }
    return 0;
}
