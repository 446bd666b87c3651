#include "hollowkit/base/bytes.h"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

TEST(BytesTest, HexTextGivesBytesInOrder) {
    struct Case {
        const char* hex;
        Bytes bytes;
    };
    const Case cases[] = {
        {"", {}},
        {"05ffffffff", {0x05, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"05FFFFFFFF", {0x05, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"05fFFfFf", {0x05, 0xFF, 0xFF, 0xFF}},
        {"000102a0B9cD", {0x00, 0x01, 0x02, 0xA0, 0xB9, 0xCD}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(bytesFromHex(c.hex), c.bytes);
        EXPECT_EQ(parseHex(c.hex), c.bytes);
    }
}

TEST(BytesTest, ParseHexRejectsOddLengthAndNonDigits) {
    for (const char* text : {"0", "05f", "0g", "g0", "0x05", "05 ff", "-1", "05\xC3\xA9"}) {
        EXPECT_FALSE(parseHex(text).has_value()) << text;
    }
}

TEST(BytesDeathTest, BytesFromHexStopsOnBadText) {
    EXPECT_DEATH(bytesFromHex("05f"), "not hex text");
    EXPECT_DEATH(bytesFromHex("zz"), "not hex text");
}

TEST(BytesTest, HexStringRoundTrips) {
    const Bytes bytes = {0x00, 0x0A, 0xFF, 0x10};
    EXPECT_EQ(hexString(bytes), "00 0a ff 10");
    EXPECT_EQ(hexString(bytes, ""), "000aff10");
    EXPECT_EQ(bytesFromHex(hexString(bytes, "")), bytes);
    EXPECT_EQ(hexString(Bytes{}), "");
}

TEST(BytesTest, LittleEndianIntegers) {
    const Bytes bytes = {0x34, 0x12, 0xFF, 0xFF, 0x00};
    EXPECT_EQ(uint16LE(bytes, 0), 0x1234);
    EXPECT_EQ(uint16LE(bytes, 1), 0xFF12);
    EXPECT_EQ(uint16LE(bytes, 2), 65535);  // unsigned: never -1
    EXPECT_EQ(uint16LE(bytes, 3), 0x00FF);
    EXPECT_EQ(uint32LE(bytes, 0), 0xFFFF1234u);
    EXPECT_EQ(uint32LE(bytes, 1), 0x00FFFF12u);
}

TEST(BytesTest, Uint16OffsetCountsFromTheSlicesFirstByte) {
    const Bytes buffer = {0xAA, 0xBB, 0x01, 0x02, 0x03};
    const ByteView slice = ByteView(buffer).subspan(2);
    EXPECT_EQ(uint16LE(slice, 0), 0x0201);
    EXPECT_EQ(uint16LE(slice, 1), 0x0302);
}

TEST(ByteReaderTest, ReadsLittleEndianFieldsInOrder) {
    const Bytes bytes = bytesFromHex("01" "3412" "78563412" "feff" "feffffff" "aabbcc");
    ByteReader reader(bytes);
    EXPECT_EQ(reader.u8(), 0x01);
    EXPECT_EQ(reader.u16(), 0x1234);
    EXPECT_EQ(reader.u32(), 0x12345678u);
    EXPECT_EQ(reader.i16(), -2);
    EXPECT_EQ(reader.i32(), -2);
    EXPECT_EQ(reader.offset(), 13u);
    EXPECT_EQ(reader.remaining(), 3u);
    auto rest = reader.take(3);
    ASSERT_TRUE(rest.has_value());
    EXPECT_EQ(Bytes(rest->begin(), rest->end()), bytesFromHex("aabbcc"));
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_FALSE(reader.failed());
}

TEST(ByteReaderTest, ReadPastTheEndFailsAndStaysFailed) {
    struct Case {
        const char* name;
        bool (*overrun)(ByteReader&);
    };
    const Case cases[] = {
        {"u32 from three bytes", [](ByteReader& r) { return r.u32().has_value(); }},
        {"u16 at the last byte", [](ByteReader& r) { r.skip(2); return r.u16().has_value(); }},
        {"take one more than left", [](ByteReader& r) { return r.take(4).has_value(); }},
        {"take a huge count", [](ByteReader& r) {
             r.skip(1);
             return r.take(std::numeric_limits<size_t>::max()).has_value();
         }},
        {"skip past the end", [](ByteReader& r) { return r.skip(4); }},
    };
    const Bytes bytes = {0x01, 0x02, 0x03};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteReader reader(bytes);
        EXPECT_FALSE(c.overrun(reader));
        EXPECT_TRUE(reader.failed());
        EXPECT_EQ(reader.remaining(), 0u);
        // Later reads fail too, even of bytes that exist.
        EXPECT_FALSE(reader.u8().has_value());
        EXPECT_FALSE(reader.take(0).has_value());
    }
}

TEST(ByteReaderTest, ReadsOnlyWithinItsSlice) {
    const Bytes buffer = {0x11, 0x22, 0x33, 0x44};
    ByteReader reader(ByteView(buffer).subspan(1, 2));
    EXPECT_EQ(reader.u16(), 0x3322);
    EXPECT_FALSE(reader.u8().has_value());
}

TEST(ByteWriterTest, WritesWhatTheReaderReads) {
    ByteWriter writer;
    writer.u8(0x7F).u16(0xBEEF).u32(0xDEADBEEF).i16(-300).i32(-70000).append(bytesFromHex("0102"));
    EXPECT_EQ(writer.size(), 15u);
    const Bytes bytes = std::move(writer).take();
    EXPECT_EQ(hexString(bytes, ""), "7fefbeefbeadded4fe90eefeff0102");
    ByteReader reader(bytes);
    EXPECT_EQ(reader.u8(), 0x7F);
    EXPECT_EQ(reader.u16(), 0xBEEF);
    EXPECT_EQ(reader.u32(), 0xDEADBEEFu);
    EXPECT_EQ(reader.i16(), -300);
    EXPECT_EQ(reader.i32(), -70000);
    EXPECT_EQ(reader.remaining(), 2u);
}

}  // namespace
}  // namespace hollowkit
