#pragma once

// Byte helpers for protocol payloads: hex text for fixed payloads, and a
// bounds-checked little-endian reader and writer. Pure functions, any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hollowkit {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// Decodes pairs of hex digits ("05ffFF" -> 05 FF FF). Only for the fixed
// payload texts compiled into the program: any other text is a programming
// error and aborts.
Bytes bytesFromHex(std::string_view hex);

// Parses hex text, returning nothing when it is not pairs of hex digits.
std::optional<Bytes> parseHex(std::string_view hex);

// "0a ff 10" style text for logs and test failure messages.
std::string hexString(ByteView bytes, std::string_view separator = " ");

// The byte at `offset` plus 256 times the next one. The caller has checked
// that both exist; this is asserted in debug builds.
int uint16LE(ByteView bytes, size_t offset);
// The four bytes at `offset`, lowest first; checked the same way.
uint32_t uint32LE(ByteView bytes, size_t offset);

// Reads little-endian values front to back. A read past the end fails
// (returns nothing) and leaves the reader failed, so a parser can read a whole
// record and check once.
class ByteReader {
public:
    explicit ByteReader(ByteView bytes) : bytes_(bytes) {}

    std::optional<uint8_t> u8();
    std::optional<uint16_t> u16();
    std::optional<uint32_t> u32();
    std::optional<int16_t> i16() { auto v = u16(); return v ? std::optional<int16_t>(static_cast<int16_t>(*v)) : std::nullopt; }
    std::optional<int32_t> i32() { auto v = u32(); return v ? std::optional<int32_t>(static_cast<int32_t>(*v)) : std::nullopt; }
    std::optional<ByteView> take(size_t count);
    bool skip(size_t count) { return take(count).has_value(); }

    size_t offset() const { return offset_; }
    size_t remaining() const { return failed_ ? 0 : bytes_.size() - offset_; }
    bool failed() const { return failed_; }

private:
    ByteView bytes_;
    size_t offset_ = 0;
    bool failed_ = false;
};

// Appends little-endian values.
class ByteWriter {
public:
    ByteWriter& u8(uint8_t v) { bytes_.push_back(v); return *this; }
    ByteWriter& u16(uint16_t v) { bytes_.push_back(uint8_t(v)); bytes_.push_back(uint8_t(v >> 8)); return *this; }
    ByteWriter& u32(uint32_t v) { u16(uint16_t(v)); return u16(uint16_t(v >> 16)); }
    ByteWriter& i16(int16_t v) { return u16(static_cast<uint16_t>(v)); }
    ByteWriter& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    ByteWriter& append(ByteView v) { bytes_.insert(bytes_.end(), v.begin(), v.end()); return *this; }

    const Bytes& bytes() const& { return bytes_; }
    Bytes take() && { return std::move(bytes_); }
    size_t size() const { return bytes_.size(); }

private:
    Bytes bytes_;
};

}  // namespace hollowkit
