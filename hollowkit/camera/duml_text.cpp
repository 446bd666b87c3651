#include "hollowkit/camera/duml_text.h"

namespace hollowkit {
namespace {

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

Result<Bytes, DumlError> lengthPrefixedString(std::string_view text) {
    if (text.size() > kDumlMaxTextLength) {
        return unexpected(DumlError::textTooLong);
    }
    Bytes out;
    out.reserve(text.size() + 1);
    out.push_back(static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

std::optional<std::string> readLengthPrefixedString(ByteReader& reader) {
    const auto length = reader.u8();
    if (!length) {
        return std::nullopt;
    }
    const auto bytes = reader.take(*length);
    if (!bytes) {
        return std::nullopt;
    }
    std::string text(bytes->begin(), bytes->end());
    if (!isValidUtf8(text)) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> asciiString(ByteView payload) {
    if (payload.size() < 2) {
        return std::nullopt;
    }
    const size_t length = payload[1];
    if (payload.size() < length + 2) {
        return std::nullopt;
    }
    std::string text(payload.begin() + 2, payload.begin() + 2 + static_cast<std::ptrdiff_t>(length));
    if (!isAscii(text)) {
        return std::nullopt;
    }
    return text;
}

Result<Bytes, DumlError> asciiStringPayload(std::string_view text, uint8_t status) {
    if (!isAscii(text)) {
        return unexpected(DumlError::textNotAscii);
    }
    if (text.size() > kDumlMaxTextLength) {
        return unexpected(DumlError::textTooLong);
    }
    Bytes out;
    out.reserve(text.size() + 2);
    out.push_back(status);
    out.push_back(static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        size_t extra = 0;
        unsigned minSecond = 0x80;
        unsigned maxSecond = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            extra = 1;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            extra = 2;
            if (b0 == 0xE0) minSecond = 0xA0;      // overlong
            if (b0 == 0xED) maxSecond = 0x9F;      // surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            extra = 3;
            if (b0 == 0xF0) minSecond = 0x90;      // overlong
            if (b0 == 0xF4) maxSecond = 0x8F;      // above U+10FFFF
        } else {
            return false;
        }
        if (n - i <= extra) {
            return false;
        }
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        if (b1 < minSecond || b1 > maxSecond) {
            return false;
        }
        for (size_t k = 2; k <= extra; ++k) {
            const auto bk = static_cast<unsigned char>(bytes[i + k]);
            if (bk < 0x80 || bk > 0xBF) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace hollowkit
