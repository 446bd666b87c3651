#include "hollowkit/base/bytes.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

namespace hollowkit {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<Bytes> parseHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    Bytes out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = hexDigit(hex[i]);
        int lo = hexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

Bytes bytesFromHex(std::string_view hex) {
    auto bytes = parseHex(hex);
    if (!bytes) {
        std::fprintf(stderr, "bytesFromHex: not hex text: %.*s\n", int(hex.size()), hex.data());
        std::abort();
    }
    return std::move(*bytes);
}

std::string hexString(ByteView bytes, std::string_view separator) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * (2 + separator.size()));
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) out.append(separator);
        out.push_back(kDigits[bytes[i] >> 4]);
        out.push_back(kDigits[bytes[i] & 0xF]);
    }
    return out;
}

int uint16LE(ByteView bytes, size_t offset) {
    assert(offset + 1 < bytes.size());
    return bytes[offset] | bytes[offset + 1] << 8;
}

uint32_t uint32LE(ByteView bytes, size_t offset) {
    assert(offset + 3 < bytes.size());
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

std::optional<ByteView> ByteReader::take(size_t count) {
    if (failed_ || count > bytes_.size() - offset_) {
        failed_ = true;
        return std::nullopt;
    }
    ByteView out = bytes_.subspan(offset_, count);
    offset_ += count;
    return out;
}

std::optional<uint8_t> ByteReader::u8() {
    auto b = take(1);
    if (!b) return std::nullopt;
    return (*b)[0];
}

std::optional<uint16_t> ByteReader::u16() {
    auto b = take(2);
    if (!b) return std::nullopt;
    return static_cast<uint16_t>((*b)[0] | (*b)[1] << 8);
}

std::optional<uint32_t> ByteReader::u32() {
    auto b = take(4);
    if (!b) return std::nullopt;
    return uint32_t((*b)[0]) | uint32_t((*b)[1]) << 8 | uint32_t((*b)[2]) << 16 | uint32_t((*b)[3]) << 24;
}

}  // namespace hollowkit
