#include "hollowkit/camera/duml_text.h"

#include "hollowkit/base/utf8.h"

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

}  // namespace hollowkit
