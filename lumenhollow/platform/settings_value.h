#pragma once

// The values a setting can hold: a Bool, a whole number, a floating-point
// number, a text, a list of texts, raw bytes, or a URL. Each keeps its type
// through a save and a relaunch, so a Bool never comes back as a number.
// Plain values, any thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hollowkit/base/bytes.h"

namespace lumenhollow {

using hollowkit::Bytes;
using StringArray = std::vector<std::string>;

// A location stored as URL text. File locations are "file://" URLs with
// every byte outside the unreserved set percent-encoded, so any path,
// including one that is not UTF-8, survives as plain ASCII.
struct Url {
    std::string text;

    bool operator==(const Url&) const = default;

    // "file:///home/ann/My%20Videos" for "/home/ann/My Videos". `path`
    // should be absolute; a relative one is kept relative in the text.
    static Url fromPath(const std::filesystem::path& path);
    // The path of a "file://" URL (with an empty or "localhost" host);
    // nothing for any other URL, a malformed escape, or an escaped NUL byte
    // ("%00"), which no path can hold.
    std::optional<std::filesystem::path> path() const;
};

using SettingsValue = std::variant<bool, int64_t, double, std::string, StringArray, Bytes, Url>;

}  // namespace lumenhollow
