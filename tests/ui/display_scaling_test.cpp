#include "lumenhollow/ui/window/display_scaling.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "hollowkit/imaging/bgra_frames.h"

namespace lumenhollow {
namespace {

// A smooth NV12 picture: ramps in luma and both chroma channels.
hollowkit::VideoFrame rampFrame(int width, int height) {
    auto frame = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::nv12, width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) frame.planeData(0)[frame.stride(0) * y + x] = static_cast<uint8_t>(16 + (x + y) * 219 / (width + height));
    }
    for (int y = 0; y < (height + 1) / 2; ++y) {
        for (int x = 0; x < (width + 1) / 2; ++x) {
            uint8_t* p = frame.planeData(1) + frame.stride(1) * y + 2 * x;
            p[0] = static_cast<uint8_t>(64 + x * 128 / width);
            p[1] = static_cast<uint8_t>(192 - y * 128 / height);
        }
    }
    return std::move(frame).freeze({});
}

// The largest channel difference and the mean one against the library's
// reference scaling, which averages areas.
struct Difference {
    int largest = 0;
    double mean = 0;
};

Difference againstReference(const hollowkit::VideoFrame& frame, int width, int height) {
    auto ours = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::bgra, width, height);
    auto reference = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::bgra, width, height);
    EXPECT_TRUE(drawForDisplay(frame, ours));
    EXPECT_TRUE(hollowkit::drawAsBgra(frame, reference));
    Difference difference;
    double sum = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 4; ++x) {
            const int d = std::abs(ours.planeData(0)[ours.stride(0) * y + x] - reference.planeData(0)[reference.stride(0) * y + x]);
            difference.largest = std::max(difference.largest, d);
            sum += d;
        }
    }
    difference.mean = sum / (static_cast<double>(width) * height * 4);
    return difference;
}

TEST(DisplayScalingTest, ShowsTheSameColoursAsTheLibrarysConversion) {
    const struct {
        const char* name;
        int width, height;
    } cases[] = {
        {"1080p into 1152x648", 1152, 648},
        {"past half, areas averaged", 640, 360},
        {"the same size", 1920, 1080},
        {"odd sizes", 1151, 647},
    };
    const hollowkit::VideoFrame frame = rampFrame(1920, 1080);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Difference difference = againstReference(frame, c.width, c.height);
        EXPECT_LE(difference.largest, 6);
        EXPECT_LT(difference.mean, 1.0);
    }
}

TEST(DisplayScalingTest, RefusesWhatItCannotDraw) {
    auto output = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::bgra, 16, 9);
    EXPECT_FALSE(drawForDisplay(hollowkit::VideoFrame(), output));
    auto notBgra = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::nv12, 16, 9);
    EXPECT_FALSE(drawForDisplay(rampFrame(32, 18), notBgra));
}

}  // namespace
}  // namespace lumenhollow
