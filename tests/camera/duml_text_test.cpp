#include "hollowkit/camera/duml_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace hollowkit {
namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(DumlTextTest, AsciiStringOfReplyPayloads) {
    const struct {
        const char* name;
        Bytes payload;
        std::optional<std::string> expected;
    } cases[] = {
        {"HOME", {0x00, 0x04, 'H', 'O', 'M', 'E'}, "HOME"},
        {"length beyond the payload", {0x00, 0x05, 'H', 'O', 'M', 'E'}, std::nullopt},
        {"trailing bytes ignored", {0x07, 0x02, 'o', 'k', 0xFF, 0x00}, "ok"},
        {"empty text", {0x00, 0x00}, ""},
        {"one byte", {0x00}, std::nullopt},
        {"nothing", {}, std::nullopt},
        {"not ASCII", {0x00, 0x02, 'a', 0x80}, std::nullopt},
        {"byte after the text may be anything", {0x00, 0x01, 'a', 0x80}, "a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(asciiString(c.payload), c.expected) << c.name;
    }
}

TEST(DumlTextTest, LengthPrefixedStringWritesByteCountThenUtf8) {
    const struct {
        std::string text;
        Bytes expected;
    } cases[] = {
        {"", {0x00}},
        {"Wi-Fi", {0x05, 'W', 'i', '-', 'F', 'i'}},
        {"caf\xC3\xA9", {0x05, 'c', 'a', 'f', 0xC3, 0xA9}},  // counts bytes, not characters
    };
    for (const auto& c : cases) {
        const auto encoded = lengthPrefixedString(c.text);
        ASSERT_TRUE(encoded.has_value()) << c.text;
        EXPECT_EQ(encoded.value(), c.expected) << c.text;
    }
}

TEST(DumlTextTest, WritersRefuseTextALengthByteCannotHold) {
    const std::string longest(255, 'x');
    const std::string tooLong(256, 'x');
    ASSERT_TRUE(lengthPrefixedString(longest).has_value());
    EXPECT_EQ(lengthPrefixedString(longest).value().size(), 256u);
    ASSERT_FALSE(lengthPrefixedString(tooLong).has_value());
    EXPECT_EQ(lengthPrefixedString(tooLong).error(), DumlError::textTooLong);

    ASSERT_TRUE(asciiStringPayload(longest).has_value());
    EXPECT_EQ(asciiStringPayload(tooLong).error(), DumlError::textTooLong);
    EXPECT_EQ(asciiStringPayload("caf\xC3\xA9").error(), DumlError::textNotAscii);
}

TEST(DumlTextTest, WrittenTextReadsBack) {
    for (const std::string& text : std::vector<std::string>{"", "HOME", "P\xC3\xA4sswort \xE2\x82\xAC", std::string(255, 'z')}) {
        const Bytes wire = lengthPrefixedString(text).value();
        ByteReader reader(wire);
        EXPECT_EQ(readLengthPrefixedString(reader), text);
        EXPECT_EQ(reader.remaining(), 0u);
    }
    for (const std::string& text : std::vector<std::string>{"", "DJI-POCKET", std::string(255, 'a')}) {
        EXPECT_EQ(asciiString(asciiStringPayload(text, 0x01).value()), text);
    }
}

TEST(DumlTextTest, ReadLengthPrefixedStringRefusesShortOrMalformedInput) {
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"length beyond the bytes", {0x03, 'a', 'b'}},
        {"cut multi-byte character", {0x01, 0xC3}},
        {"overlong slash", {0x02, 0xC0, 0xAF}},
        {"surrogate", {0x03, 0xED, 0xA0, 0x80}},
        {"beyond U+10FFFF", {0x04, 0xF4, 0x90, 0x80, 0x80}},
        {"stray continuation", {0x01, 0x80}},
    };
    for (const auto& c : cases) {
        ByteReader reader(c.bytes);
        EXPECT_EQ(readLengthPrefixedString(reader), std::nullopt) << c.name;
    }
    // Two texts back to back read in order.
    Bytes two = bytesOf("\x02hi\x03you");
    ByteReader reader(two);
    EXPECT_EQ(readLengthPrefixedString(reader), "hi");
    EXPECT_EQ(readLengthPrefixedString(reader), "you");
    EXPECT_EQ(readLengthPrefixedString(reader), std::nullopt);
}

TEST(DumlTextTest, ReadersTakeAnyBytes) {
    std::mt19937 random(11);
    for (int n = 0; n < 2000; ++n) {
        Bytes input(random() % 300);
        for (auto& b : input) b = static_cast<uint8_t>(random());
        const auto text = asciiString(input);
        if (text) {
            ASSERT_LE(text->size() + 2, input.size());
        }
        ByteReader reader(input);
        while (readLengthPrefixedString(reader)) {
        }
    }
}

}  // namespace
}  // namespace hollowkit
