#include "hollowkit/base/utf8.h"

#include <cstddef>

namespace hollowkit {
namespace {

// Decodes the code point at `text[0]` (non-empty). A sequence cut short by
// the end of `text` reads as U+FFFD so that malformed text cannot cause a read
// past its end.
char32_t decodeFirst(std::string_view text, size_t& length) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    length = b(0) < 0x80 ? 1 : b(0) < 0xE0 ? 2 : b(0) < 0xF0 ? 3 : 4;
    if (length > text.size()) {
        length = 1;
        return U'\uFFFD';
    }
    switch (length) {
    case 1: return b(0);
    case 2: return char32_t(b(0) & 0x1F) << 6 | (b(1) & 0x3F);
    case 3: return char32_t(b(0) & 0x0F) << 12 | char32_t(b(1) & 0x3F) << 6 | (b(2) & 0x3F);
    default:
        return char32_t(b(0) & 0x07) << 18 | char32_t(b(1) & 0x3F) << 12 | char32_t(b(2) & 0x3F) << 6 |
               (b(3) & 0x3F);
    }
}

// White space and line ends: Unicode categories Zs, Zl and Zp, the ASCII
// controls TAB to CR, and NEL.
bool isWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length = 0;
        // The second byte's range rules out overlong forms, surrogates
        // (ED A0..BF) and values above U+10FFFF (F4 90..).
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (size - i < length) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

std::string_view trimWhitespace(std::string_view text) {
    while (!text.empty()) {
        size_t length = 0;
        if (!isWhitespace(decodeFirst(text, length))) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        size_t start = text.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        size_t length = 0;
        if (!isWhitespace(decodeFirst(text.substr(start), length))) break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

}  // namespace hollowkit
