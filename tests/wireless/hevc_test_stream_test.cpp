#include "hollowkit/testing/hevc_test_stream.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

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
