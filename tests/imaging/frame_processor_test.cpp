#include "hollowkit/imaging/frame_processor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "hollowkit/imaging/lut_library.h"
#include "lut_test_support.h"

namespace hollowkit {
namespace {

using luttest::Rgb;

FrameProcessor::Options threads(int count, int parallelMinPixels = 640 * 360) {
    FrameProcessor::Options options;
    options.threadCount = count;
    options.parallelMinPixels = parallelMinPixels;
    return options;
}

constexpr TimePoint kPts = TimePoint{} + std::chrono::milliseconds(1234);

// A table that sends every colour to one colour.
ColorLUT constantTable(const std::string& id, float r, float g, float b) {
    return luttest::tableOf(
        2, [=](float, float, float) { return std::array<float, 3>{r, g, b}; }, id);
}

VideoFrame grey(int width, int height) {
    return luttest::bgraFrame(width, height, [](int, int) { return Rgb{100, 100, 100}; }, kPts);
}

VideoFrame nv12Grey(int width, int height) {
    return luttest::nv12Frame(
        width, height, [](int, int) { return uint8_t{120}; },
        [](int, int) { return luttest::Ycc{}; });
}

// True when every pixel of `frame` is B, G, R = `bgr`, alpha opaque.
bool uniform(const VideoFrame& frame, std::array<uint8_t, 3> bgr) {
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const auto p = luttest::bgraAt(frame, x, y);
            if (p[0] != bgr[0] || p[1] != bgr[1] || p[2] != bgr[2] || p[3] != 255) return false;
        }
    }
    return true;
}

TEST(FrameProcessorTest, WithoutALookTheSameFrameComesBack) {
    FrameProcessor processor;
    EXPECT_FALSE(processor.lut().has_value());
    for (const VideoFrame& frame : {grey(64, 36), nv12Grey(64, 36)}) {
        const VideoFrame out = processor.process(frame);
        EXPECT_TRUE(out.sharesPixelsWith(frame));
        EXPECT_EQ(out.pts(), frame.pts());
    }
    EXPECT_FALSE(processor.poolSize().has_value());  // nothing was drawn
}

TEST(FrameProcessorTest, AppliesTheLookUntilItIsTurnedOff) {
    FrameProcessor processor;
    processor.setLUT(constantTable("look.red", 1.0f, 0.0f, 0.0f));
    ASSERT_TRUE(processor.lut().has_value());
    EXPECT_EQ(processor.lut()->id, "look.red");

    for (const VideoFrame& frame : {grey(64, 36), nv12Grey(64, 36)}) {
        const VideoFrame out = processor.process(frame);
        ASSERT_FALSE(out.sharesPixelsWith(frame));
        EXPECT_EQ(out.pixelFormat(), PixelFormat::bgra);
        EXPECT_EQ(out.width(), 64);
        EXPECT_EQ(out.height(), 36);
        EXPECT_EQ(out.pts(), frame.pts());
        EXPECT_TRUE(uniform(out, {0, 0, 255}));
    }

    // The next frame after a change carries the new look.
    processor.setLUT(constantTable("look.blue", 0.0f, 0.0f, 1.0f));
    EXPECT_TRUE(uniform(processor.process(grey(64, 36)), {255, 0, 0}));

    processor.setLUT(std::nullopt);
    const VideoFrame frame = grey(64, 36);
    EXPECT_TRUE(processor.process(frame).sharesPixelsWith(frame));
}

TEST(FrameProcessorTest, AnyFailureLetsTheFrameThrough) {
    // No output buffer to draw into.
    FrameProcessor noBuffers(FrameProcessor::Options{
        .bufferSource = [](int, int) { return WritableVideoFrame(); }});
    noBuffers.setLUT(*LUTLibrary::builtInLook("builtin.vivid"));
    const VideoFrame frame = grey(32, 18);
    EXPECT_TRUE(noBuffers.process(frame).sharesPixelsWith(frame));

    // A buffer of the wrong size.
    FrameProcessor wrongBuffers(FrameProcessor::Options{
        .bufferSource = [](int w, int h) {
            return WritableVideoFrame::allocate(PixelFormat::bgra, w + 1, h);
        }});
    wrongBuffers.setLUT(*LUTLibrary::builtInLook("builtin.vivid"));
    EXPECT_TRUE(wrongBuffers.process(frame).sharesPixelsWith(frame));

    // A table that cannot be used is kept as the selection but draws nothing.
    FrameProcessor processor;
    ColorLUT broken = luttest::identityTable(2);
    broken.dimension = 1;
    broken.rgba = std::vector<float>(4);
    processor.setLUT(broken);
    EXPECT_TRUE(processor.lut().has_value());
    EXPECT_TRUE(processor.process(frame).sharesPixelsWith(frame));

    // No picture at all.
    processor.setLUT(*LUTLibrary::builtInLook("builtin.mono"));
    EXPECT_TRUE(processor.process(VideoFrame()).isNull());
}

TEST(FrameProcessorTest, ThePoolFollowsTheFrameSize) {
    using Size = FrameProcessor::FrameSize;
    FrameProcessor processor;
    processor.setLUT(*LUTLibrary::builtInLook("builtin.cool"));
    const Size sizes[] = {{64, 36}, {64, 36}, {32, 18}, {64, 36}};
    for (const Size& size : sizes) {
        const VideoFrame out = processor.process(grey(size.width, size.height));
        EXPECT_EQ(out.width(), size.width);
        EXPECT_EQ(out.height(), size.height);
        EXPECT_EQ(processor.poolSize(), size);
    }
}

TEST(FrameProcessorTest, SharedRowsGiveTheSamePicture) {
    FrameProcessor alone(threads(1));
    FrameProcessor shared(threads(3, 0));
    alone.setLUT(*LUTLibrary::builtInLook("builtin.film"));
    shared.setLUT(*LUTLibrary::builtInLook("builtin.film"));
    const VideoFrame input = luttest::bgraFrame(203, 77, [](int x, int y) {
        return Rgb{static_cast<uint8_t>(x), static_cast<uint8_t>(y * 3), static_cast<uint8_t>(x ^ y)};
    });
    const VideoFrame a = alone.process(input);
    const VideoFrame b = shared.process(input);
    for (int y = 0; y < input.height(); ++y) {
        ASSERT_TRUE(std::equal(a.row(0, y).begin(), a.row(0, y).end(), b.row(0, y).begin()))
            << "row " << y;
    }
}

// Two video threads (an old camera draining while a new one starts) of
// different frame sizes, while the look changes underneath. Every frame must
// come out whole, at its own size, and in one of the two looks; run under
// ThreadSanitizer this also guards the pool and the look against races.
TEST(FrameProcessorTest, TwoVideoThreadsAndALookChange) {
    FrameProcessor processor(threads(2, 0));
    const ColorLUT red = constantTable("look.red", 1.0f, 0.0f, 0.0f);
    const ColorLUT green = constantTable("look.green", 0.0f, 1.0f, 0.0f);
    processor.setLUT(red);

    std::atomic<int> bad{0};
    std::atomic<bool> stop{false};
    auto videoThread = [&](int width, int height) {
        for (int i = 0; i < 150 || !stop; ++i) {
            const VideoFrame out = processor.process(i % 2 ? grey(width, height)
                                                           : nv12Grey(width, height));
            if (out.width() != width || out.height() != height ||
                !(uniform(out, {0, 0, 255}) || uniform(out, {0, 255, 0}))) {
                ++bad;
            }
            if (i > 2000) break;
        }
    };
    std::jthread first(videoThread, 48, 32);
    std::jthread second(videoThread, 40, 24);
    for (int i = 0; i < 100; ++i) processor.setLUT(i % 2 ? red : green);
    stop = true;
    first.join();
    second.join();
    EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace hollowkit
