#include "lumenhollow/platform/file_uri.h"

#include <system_error>

namespace lumenhollow {

std::string fileUri(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path absolute = path.is_absolute() ? path : std::filesystem::absolute(path, error);
    if (error) absolute = path;
    const std::string text = absolute.lexically_normal().string();

    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    uri.reserve(uri.size() + text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                           byte == '~' || byte == '/';
        if (plain) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[byte >> 4];
            uri += kHex[byte & 0x0F];
        }
    }
    return uri;
}

}  // namespace lumenhollow
