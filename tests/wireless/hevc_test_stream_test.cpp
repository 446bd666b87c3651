#include "hollowkit/testing/hevc_test_stream.h"

#include <gtest/gtest.h>

#include <set>

#include "hollowkit/testing/reference_hevc_decoder.h"

namespace hollowkit {
namespace {

std::set<int> nalTypesOf(ByteView data) {
    std::set<int> types;
    for (size_t i = 0; i + 3 < data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            types.insert((data[i + 3] >> 1) & 0x3F);
        }
    }
    return types;
}

TEST(HevcTestStream, PatternFramesReadBackTheirNumber) {
    for (uint32_t index : {0u, 1u, 0xBEEFu, 0xFFFFu}) {
        const VideoFrame frame = makePatternFrame(index, 320, 180);
        ASSERT_FALSE(frame.isNull());
        EXPECT_EQ(readPatternIndex(frame), index);
        EXPECT_EQ(patternDamage(frame, index), 0.0);
        // The texture scrolls, so a neighbour's picture counts as damaged.
        EXPECT_FALSE(patternIntact(frame, index + 1));
    }
}

TEST(HevcTestStream, DecodedPicturesCarryTheirNumberAndStayIntact) {
    HevcTestStreamOptions options;
    options.gopLength = 10;
    options.firstIndex = 65530;  // crosses the 16-bit wrap
    auto units = encodeHevcTestStream(options, 25);
    ASSERT_TRUE(units) << units.error();
    auto decoder = ReferenceHevcDecoder::create();
    ASSERT_TRUE(decoder) << decoder.error();
    for (size_t i = 0; i < units->size(); ++i) {
        const HevcAccessUnit& unit = (*units)[i];
        const uint32_t expected = (65530 + i) & 0xFFFF;
        EXPECT_EQ(unit.index, expected);
        EXPECT_EQ(unit.irap, i % 10 == 0) << i;
        const std::set<int> types = nalTypesOf(unit.bytes);
        const bool hasParameterSets = types.count(32) && types.count(33) && types.count(34);
        EXPECT_EQ(hasParameterSets, unit.irap) << i;

        ASSERT_EQ((*decoder)->decode(unit.bytes), 1) << i;
        const VideoFrame frame = (*decoder)->lastFrame();
        ASSERT_EQ(frame.width(), 320);
        ASSERT_EQ(frame.height(), 180);
        EXPECT_EQ(readPatternIndex(frame), expected);
        EXPECT_LT(patternDamage(frame, expected), kPatternDamageThreshold) << i;
    }
    EXPECT_EQ((*decoder)->errors(), 0);
}

TEST(HevcTestStream, IrapModes) {
    struct Case {
        HevcIrapMode mode;
        std::vector<bool> irap;
    };
    const Case cases[] = {
        {HevcIrapMode::firstOnly, {true, false, false, false, false, false}},
        {HevcIrapMode::none, {false, false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        HevcTestStreamOptions options;
        options.gopLength = 2;
        options.irapMode = c.mode;
        auto units = encodeHevcTestStream(options, 6);
        ASSERT_TRUE(units) << units.error();
        for (size_t i = 0; i < units->size(); ++i) {
            EXPECT_EQ((*units)[i].irap, c.irap[i]) << i;
            bool anyIrap = false;
            for (int type : nalTypesOf((*units)[i].bytes)) {
                anyIrap = anyIrap || (type >= 16 && type <= 21);
            }
            EXPECT_EQ(anyIrap, c.irap[i]) << i;
        }
        // Without an IRAP the parameter sets still come first.
        EXPECT_TRUE(nalTypesOf((*units)[0].bytes).count(33));
    }
}

TEST(HevcTestStream, DatagramsCarryTheMessage) {
    Bytes message(5000);
    for (size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<uint8_t>(i * 7);
    }
    struct Case {
        size_t messageBytes;
        size_t datagramBytes;
        size_t datagrams;
    };
    for (const Case& c : {Case{5000, 1400, 4}, Case{1364, 1400, 1}, Case{1365, 1400, 2}, Case{1, 10, 1},
                          Case{18, 10, 2}, Case{19, 10, 3}}) {
        const ByteView part(message.data(), c.messageBytes);
        const auto datagrams = splitIntoVideoDatagrams(part, c.datagramBytes);
        ASSERT_EQ(datagrams.size(), c.datagrams) << c.messageBytes;
        const Bytes& start = datagrams[0];
        ASSERT_GE(start.size(), 36u);
        EXPECT_EQ(hexString(ByteView(start).subspan(20, 8)),
                  hexString(bytesFromHex("000001ff")) + " " +
                      hexString(ByteView(ByteWriter().u32(uint32_t(c.messageBytes)).bytes())));
        Bytes joined(start.begin() + 36, start.end());
        for (size_t i = 1; i < datagrams.size(); ++i) {
            EXPECT_LE(datagrams[i].size(), std::max<size_t>(c.datagramBytes, 37));
            joined.insert(joined.end(), datagrams[i].begin() + 20, datagrams[i].end());
        }
        EXPECT_EQ(joined, Bytes(part.begin(), part.end()));
    }
}

}  // namespace
}  // namespace hollowkit
