#include "lumenhollow/platform/settings_value.h"

#include <string_view>

namespace lumenhollow {
namespace {

constexpr std::string_view kFileScheme = "file://";

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Url Url::fromPath(const std::filesystem::path& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text(kFileScheme);
    for (const unsigned char c : path.native()) {
        if (isUnreserved(c) || c == '/') {
            text += static_cast<char>(c);
        } else {
            text += '%';
            text += kHex[c >> 4];
            text += kHex[c & 0x0F];
        }
    }
    return Url{std::move(text)};
}

std::optional<std::filesystem::path> Url::path() const {
    std::string_view rest = text;
    if (!rest.starts_with(kFileScheme)) return std::nullopt;
    rest.remove_prefix(kFileScheme.size());
    if (rest.starts_with("localhost/")) rest.remove_prefix(std::string_view("localhost").size());
    if (!rest.starts_with('/')) return std::nullopt;
    std::string decoded;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            decoded += rest[i];
            continue;
        }
        if (i + 2 >= rest.size()) return std::nullopt;
        const int high = hexValue(rest[i + 1]);
        const int low = hexValue(rest[i + 2]);
        // A NUL would end the path early wherever it is handed to the system.
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return std::nullopt;
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return std::filesystem::path(std::move(decoded));
}

}  // namespace lumenhollow
