#include "hollowkit/usb/usb_camera_formats.h"

#include <gtest/gtest.h>

#include <limits>

#include "hollowkit/usb/capture_frame_converter.h"

namespace hollowkit {
namespace {

FrameRateRange rate(uint32_t numerator, uint32_t denominator) {
    return FrameRateRange{static_cast<double>(denominator) / numerator, numerator, denominator};
}

TEST(UsbCameraFormatsTest, RatesBecomeWholeNumbersWithHalvesAwayFromZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const std::pair<double, std::optional<int>> cases[] = {
        {29.97, 30}, {59.94, 60}, {23.976, 24}, {12.5, 13}, {30, 30}, {0.4, 0},
        {nan, std::nullopt}, {infinity, std::nullopt}, {-1, std::nullopt}, {1e9, std::nullopt},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(wholeFramesPerSecond(input), expected) << input;
    }
}

TEST(UsbCameraFormatsTest, ListsEachSizeAndRateOnceAcrossPixelFormats) {
    const std::vector<VideoDeviceFormat> formats{
        {kFourccNv12, 1920, 1080, {rate(1, 30), rate(1, 60)}},
        {kFourccMjpeg, 1920, 1080, {rate(1, 60), rate(1, 30)}},
        {kFourccMjpeg, 1920, 1080, {rate(1001, 30000)}},  // 29.97 is 30 as well
        {kFourccNv12, 0, 0, {rate(1, 30)}},                // no size: left out
    };
    EXPECT_EQ(formatList(formats), (std::vector<VideoFormatOption>{{1920, 1080, 60}, {1920, 1080, 30}}));
}

TEST(UsbCameraFormatsTest, SortsLandscapeFirstThenByAreaThenByRate) {
    std::vector<VideoDeviceFormat> formats{
        {kFourccNv12, 1080, 1920, {rate(1, 30)}}, {kFourccNv12, 1280, 720, {rate(1, 60)}},
        {kFourccNv12, 1920, 1080, {rate(1, 30)}}, {kFourccNv12, 1920, 1080, {rate(1, 60)}},
        {kFourccNv12, 3840, 2160, {rate(1, 30)}},
    };
    EXPECT_EQ(formatList(formats), (std::vector<VideoFormatOption>{
                                       {3840, 2160, 30}, {1920, 1080, 60}, {1920, 1080, 30}, {1280, 720, 60},
                                       {1080, 1920, 30}}));
    // A square counts as landscape.
    EXPECT_TRUE(formatOrder({1080, 1080, 30}, {1080, 1920, 30}));
    EXPECT_FALSE(formatOrder({1920, 1080, 30}, {1920, 1080, 30}));
}

TEST(UsbCameraFormatsTest, DefaultIsTheLargestLandscapeAtThirtyOrMoreElseTheFirst) {
    struct Case {
        std::vector<VideoFormatOption> list;
        std::optional<VideoFormatOption> expected;
    };
    const Case cases[] = {
        {{{3840, 2160, 24}, {1920, 1080, 60}, {1920, 1080, 30}}, VideoFormatOption{1920, 1080, 60}},
        {{{3840, 2160, 24}, {1080, 1920, 30}}, VideoFormatOption{3840, 2160, 24}},
        {{{1080, 1920, 60}, {1080, 1080, 30}}, VideoFormatOption{1080, 1080, 30}},
        // Equal areas: the earlier wins.
        {{{1280, 720, 30}, {960, 960, 30}, {1280, 720, 60}}, VideoFormatOption{1280, 720, 30}},
        {{}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(defaultFormat(c.list), c.expected);
    }
}

TEST(UsbCameraFormatsTest, MatchTakesTheFirstFormatOfTheSizeWithARangeOfTheWholeRate) {
    const std::vector<VideoDeviceFormat> formats{
        {kFourccNv12, 1280, 720, {rate(1, 30)}},
        {kFourccYuyv, 1920, 1080, {rate(1, 60)}},
        {kFourccMjpeg, 1920, 1080, {rate(1, 60), rate(1001, 30000)}},
        {kFourccNv12, 1920, 1080, {rate(1, 30)}},
    };
    const auto match = matchFormat(formats, {1920, 1080, 30});
    ASSERT_TRUE(match);
    EXPECT_EQ(match->format.pixelFormat, kFourccMjpeg);
    EXPECT_EQ(match->range, rate(1001, 30000));
    EXPECT_FALSE(matchFormat(formats, {1920, 1080, 24}));
    EXPECT_FALSE(matchFormat(formats, {1080, 1920, 30}));
}

}  // namespace
}  // namespace hollowkit
