#include "hollowkit/media/video_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace hollowkit {
namespace {

TEST(VideoCodecTest, StoredStringsRoundTrip) {
    EXPECT_EQ(toString(VideoCodec::hevc), "HEVC");
    EXPECT_EQ(toString(VideoCodec::h264), "H.264");
    for (VideoCodec codec : kAllVideoCodecs) {
        EXPECT_EQ(parseVideoCodec(toString(codec)), codec);
    }
}

TEST(VideoCodecTest, ParsingAcceptsOnlyTheExactStrings) {
    for (const char* text : {"hevc", "H264", "h.264", " HEVC", "HEVC ", "", "H.265"}) {
        EXPECT_EQ(parseVideoCodec(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(VideoCodecTest, BitRateFollowsPictureSize) {
    struct Case {
        VideoCodec codec;
        int32_t width, height;
        int64_t expected;
    };
    const Case cases[] = {
        {VideoCodec::hevc, 1920, 1080, 4'976'640},
        {VideoCodec::h264, 1920, 1080, 8'709'120},
        {VideoCodec::hevc, 3840, 2160, 19'906'560},
        {VideoCodec::h264, 3840, 2160, 34'836'480},
        {VideoCodec::hevc, 1080, 1920, 4'976'640},
        {VideoCodec::hevc, 0, 1080, 0},
        {VideoCodec::h264, -1920, 1080, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bitRate(c.codec, c.width, c.height), c.expected)
            << toString(c.codec) << " " << c.width << "x" << c.height;
    }
}

TEST(VideoCodecTest, BitRateOfTheLargestSizeStaysRepresentable) {
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    EXPECT_GT(bitRate(VideoCodec::h264, kMax, kMax), 0);
    EXPECT_GT(bitRate(VideoCodec::hevc, kMax, kMax), 0);
}

}  // namespace
}  // namespace hollowkit
