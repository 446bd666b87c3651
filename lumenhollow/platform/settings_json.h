#pragma once

// The settings file's text: one JSON object, a member per key. Bools,
// whole numbers, floating-point numbers, texts and lists of texts are
// written as plain JSON; bytes as {"$data": "<base64>"} and URLs as
// {"$url": "<text>"}, so every value reads back with its type. A member this
// version cannot read (another shape, a newer program's value) is kept as
// JSON text and written back unchanged. Pure functions, any thread.

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

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

// Parses the file's text. The error names what is wrong ("not JSON at
// byte 12", "the top level is an array, not an object").
hollowkit::Result<SettingsDocument, std::string> parseSettingsJson(std::string_view text);

// Indented text, keys in byte order, ending in a line break. Text that is
// not UTF-8 (JSON has no other) is written with U+FFFD in place of the bad
// bytes. A double that is not finite (JSON has no NaN) is written as null
// and reads back as a foreign member.
std::string formatSettingsJson(const SettingsDocument& document);

}  // namespace lumenhollow
