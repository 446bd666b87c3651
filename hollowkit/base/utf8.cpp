#include "hollowkit/base/utf8.h"

#include <cstddef>
#include <cstdio>

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

// The length of the well-formed sequence at `bytes[0]` (size > 0), or 0 when
// the bytes there are not one.
size_t sequenceLength(const unsigned char* bytes, size_t size) {
    const unsigned char lead = bytes[0];
    if (lead < 0x80) return 1;
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
        return 0;
    }
    if (size < length) return 0;
    if (bytes[1] < low || bytes[1] > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if ((bytes[k] & 0xC0) != 0x80) return 0;
    }
    return length;
}

void appendHexEscape(std::string& out, unsigned char byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t length = sequenceLength(bytes + i, text.size() - i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string escapeForLog(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char byte = bytes[i];
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        const size_t length = sequenceLength(bytes + i, text.size() - i);
        if (length == 1 || length == 0) {
            // C0 controls, DEL, and bytes outside any well-formed sequence.
            switch (byte) {
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: appendHexEscape(out, byte); break;
            }
            ++i;
            continue;
        }
        size_t decodedLength = 0;
        const char32_t c = decodeFirst(text.substr(i, length), decodedLength);
        // C1 controls (a terminal may act on U+009B as it would on ESC [) and
        // the Unicode line and paragraph separators.
        if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
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
