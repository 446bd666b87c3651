#pragma once

// The settings file's text: one JSON object, a member per key. Bools,
// whole numbers, floating-point numbers, texts and lists of texts are
// written as plain JSON; bytes as {"$data": "<base64>"} and URLs as
// {"$url": "<text>"}, so every value reads back with its type. A member this
// version cannot read (another shape, a newer program's value) is kept as
// JSON text and written back unchanged. One damaged member costs only
// itself: a number beyond the range of a double (1e400) reads as null, a
// member holding text that is not UTF-8 (a Latin-1 "Caf\xe9") or a raw
// control character is left out, and a "$url" holding an escaped NUL byte
// is kept foreign; each key then falls back to its default.
// Pure functions, any thread.

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/result.h"
#include "lumenhollow/platform/settings_value.h"

namespace lumenhollow {

struct SettingsDocument {
    std::map<std::string, SettingsValue, std::less<>> values;
    // Members this version cannot read, as compact JSON text. A key is never
    // in both maps.
    std::map<std::string, std::string, std::less<>> foreign;

    bool operator==(const SettingsDocument&) const = default;
};

// Deeper nesting than this is refused rather than walked: a settings file
// has no use for it, and each level costs stack while writing it back.
inline constexpr int kMaxSettingsNesting = 64;

struct ParsedSettings {
    SettingsDocument document;
    // Members that held a number beyond the range of a double, now null;
    // members left out for text that is not UTF-8 or holds a raw control
    // character; and the first of either with its key, cut short for a log
    // line.
    size_t membersWithNumbersOutOfRange = 0;
    size_t membersWithBadText = 0;
    std::string firstRepair;
    // Keys of "$url" members refused for an escaped NUL byte ("%00"): no
    // path can hold one. They are foreign members, written back unchanged.
    std::vector<std::string> urlsWithNul;
};

// Parses the file's text. The error names what is wrong ("not JSON at
// byte 12", "the top level is an array, not an object"), quoting no more
// than a short excerpt of the text.
hollowkit::Result<ParsedSettings, std::string> parseSettingsJson(std::string_view text);

enum class SettingsLayout {
    none,
    // A member per line, indented by two spaces: for people who open the file.
    indented,
    // No white space at all, not even a final line break: the least room
    // the settings can take.
    compact,
};

// The text in `layout`, keys in byte order. Text
// that is not UTF-8 (JSON has no other) is written with U+FFFD in place of
// the bad bytes. A double that is not finite (JSON has no NaN) is written
// as null and reads back as a foreign member.
std::string formatSettingsJson(const SettingsDocument& document, SettingsLayout layout = SettingsLayout::indented);

}  // namespace lumenhollow
