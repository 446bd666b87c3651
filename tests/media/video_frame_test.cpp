#include "hollowkit/media/video_frame.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace hollowkit {
namespace {

const TimePoint kFrameT0 = TimePoint(std::chrono::seconds(100));

// A plane whose byte at (x, y) is a function of both, so a shifted or
// mis-strided copy shows.
std::vector<uint8_t> patternPlane(size_t stride, size_t rowBytes, int rows, uint8_t seed) {
    // No padding after the last row: the copy must not read there.
    std::vector<uint8_t> bytes(stride * static_cast<size_t>(rows - 1) + rowBytes, 0xEE);
    for (int y = 0; y < rows; ++y) {
        for (size_t x = 0; x < rowBytes; ++x) {
            bytes[stride * static_cast<size_t>(y) + x] = static_cast<uint8_t>(seed + x * 7 + static_cast<size_t>(y) * 13);
        }
    }
    return bytes;
}

void expectPattern(const VideoFrame& frame, int plane, uint8_t seed) {
    const PlaneSize size = planeSize(frame.pixelFormat(), frame.width(), frame.height(), plane);
    ASSERT_EQ(frame.row(plane, 0).size(), size.rowBytes);
    for (int y = 0; y < size.rows; ++y) {
        const auto row = frame.row(plane, y);
        for (size_t x = 0; x < size.rowBytes; ++x) {
            ASSERT_EQ(row[x], static_cast<uint8_t>(seed + x * 7 + static_cast<size_t>(y) * 13))
                << "plane " << plane << " x " << x << " y " << y;
        }
    }
}

TEST(PlaneSizeTest, FollowsTheFormat) {
    struct Case {
        PixelFormat format;
        int width, height, plane;
        PlaneSize expected;
    };
    const Case cases[] = {
        {PixelFormat::nv12, 1920, 1080, 0, {1920, 1080}},
        {PixelFormat::nv12, 1920, 1080, 1, {1920, 540}},
        // Odd sizes: a partial 2x2 block still gets its chroma pair.
        {PixelFormat::nv12, 5, 3, 0, {5, 3}},
        {PixelFormat::nv12, 5, 3, 1, {6, 2}},
        {PixelFormat::bgra, 33, 7, 0, {132, 7}},
        {PixelFormat::bgra, 33, 7, 1, {}},
        {PixelFormat::none, 33, 7, 0, {}},
        {PixelFormat::nv12, 0, 7, 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(planeSize(c.format, c.width, c.height, c.plane), c.expected)
            << c.width << "x" << c.height << " plane " << c.plane;
    }
}

TEST(WritableVideoFrameTest, AllocatesAlignedRowsCoveringEachPlane) {
    for (auto [format, width, height] : {std::tuple{PixelFormat::nv12, 3840, 2160},
                                         std::tuple{PixelFormat::nv12, 1281, 721},
                                         std::tuple{PixelFormat::bgra, 1080, 1920}}) {
        WritableVideoFrame frame = WritableVideoFrame::allocate(format, width, height);
        ASSERT_FALSE(frame.isNull());
        for (int plane = 0; plane < planeCount(format); ++plane) {
            const PlaneSize size = planeSize(format, width, height, plane);
            EXPECT_GE(frame.stride(plane), size.rowBytes);
            EXPECT_EQ(frame.stride(plane) % WritableVideoFrame::kRowAlignment, 0U);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(frame.planeData(plane)) % WritableVideoFrame::kRowAlignment, 0U);
            // Writing the last byte of the last row stays inside the block (ASan).
            frame.row(plane, size.rows - 1).back() = 1;
        }
        if (format == PixelFormat::nv12) {
            // The chroma plane lies after the whole luma plane.
            EXPECT_GE(frame.planeData(1), frame.planeData(0) + frame.stride(0) * static_cast<size_t>(height));
        }
    }
}

TEST(WritableVideoFrameTest, RefusesSizesOutOfRange) {
    EXPECT_TRUE(WritableVideoFrame::allocate(PixelFormat::none, 16, 16).isNull());
    EXPECT_TRUE(WritableVideoFrame::allocate(PixelFormat::nv12, 0, 16).isNull());
    EXPECT_TRUE(WritableVideoFrame::allocate(PixelFormat::nv12, 16, -2).isNull());
    EXPECT_TRUE(WritableVideoFrame::allocate(PixelFormat::bgra, VideoFrame::kMaxDimension + 1, 16).isNull());
}

TEST(WritableVideoFrameTest, FreezeHandsOverThePixels) {
    WritableVideoFrame writable = WritableVideoFrame::allocate(PixelFormat::bgra, 4, 2);
    writable.row(0, 1)[3] = 0x5A;
    const uint8_t* pixels = writable.planeData(0);

    VideoFrame frame = std::move(writable).freeze(kFrameT0);

    EXPECT_TRUE(writable.isNull());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(frame.planeData(0), pixels);
    EXPECT_EQ(frame.row(0, 1)[3], 0x5A);
    EXPECT_EQ(frame.pts(), kFrameT0);
    EXPECT_TRUE(std::move(writable).freeze(kFrameT0).isNull());
}

TEST(VideoFrameTest, CopyingTheHandleSharesThePixels) {
    VideoFrame frame = WritableVideoFrame::allocate(PixelFormat::nv12, 3840, 2160).freeze(kFrameT0);
    const VideoFrame copy = frame;  // NOLINT(performance-unnecessary-copy-initialization)
    const VideoFrame later = frame.withPts(kFrameT0 + std::chrono::milliseconds(33));

    for (const VideoFrame* other : {&copy, &later}) {
        EXPECT_TRUE(frame.sharesPixelsWith(*other));
        EXPECT_EQ(other->planeData(0), frame.planeData(0));
        EXPECT_EQ(other->planeData(1), frame.planeData(1));
    }
    EXPECT_EQ(frame.pts(), kFrameT0);
    EXPECT_EQ(later.pts(), kFrameT0 + std::chrono::milliseconds(33));
    EXPECT_FALSE(frame.sharesPixelsWith(WritableVideoFrame::allocate(PixelFormat::nv12, 3840, 2160).freeze(kFrameT0)));
    EXPECT_FALSE(VideoFrame().sharesPixelsWith(VideoFrame()));
}

TEST(VideoFrameTest, CopyFromRestridesEveryPlane) {
    // Source rows padded differently from the library's alignment, and one
    // source whose stride happens to equal it (the single-copy path).
    for (size_t lumaStride : {size_t{70}, size_t{64}}) {
        const int width = 62, height = 5;
        auto luma = patternPlane(lumaStride, 62, 5, 1);
        auto chroma = patternPlane(lumaStride, 62, 3, 90);
        const PlaneView planes[] = {{luma.data(), lumaStride}, {chroma.data(), lumaStride}};

        const VideoFrame frame = VideoFrame::copyFrom(PixelFormat::nv12, width, height, planes, kFrameT0);

        ASSERT_FALSE(frame.isNull());
        EXPECT_NE(frame.planeData(0), luma.data());
        // The source may be reused at once.
        luma.assign(luma.size(), 0);
        chroma.assign(chroma.size(), 0);
        expectPattern(frame, 0, 1);
        expectPattern(frame, 1, 90);
        EXPECT_EQ(frame.pts(), kFrameT0);
    }
}

TEST(VideoFrameTest, CopyFromAndWrapRefuseMismatchedPlanes) {
    std::vector<uint8_t> bytes(64 * 64 * 4);
    const PlaneView good{bytes.data(), 64};
    const PlaneView shortStride{bytes.data(), 63};
    const PlaneView null{nullptr, 64};
    struct Case {
        const char* name;
        PixelFormat format;
        std::vector<PlaneView> planes;
    };
    const Case cases[] = {
        {"NV12 with one plane", PixelFormat::nv12, {good}},
        {"BGRA with two planes", PixelFormat::bgra, {{bytes.data(), 256}, {bytes.data(), 256}}},
        {"BGRA stride shorter than 4 bytes a pixel", PixelFormat::bgra, {good}},
        {"luma stride shorter than a row", PixelFormat::nv12, {shortStride, good}},
        {"chroma without memory", PixelFormat::nv12, {good, null}},
        {"no format", PixelFormat::none, {}},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(VideoFrame::copyFrom(c.format, 64, 8, c.planes, kFrameT0).isNull()) << c.name;
        EXPECT_TRUE(VideoFrame::wrap(c.format, 64, 8, c.planes, kFrameT0, nullptr).isNull()) << c.name;
    }
}

TEST(VideoFrameTest, WrapKeepsTheOwnerUntilTheLastHandleIsGone) {
    auto memory = std::make_shared<std::vector<uint8_t>>(16 * 4 * 2, 0x11);
    std::weak_ptr<std::vector<uint8_t>> watch = memory;
    const PlaneView plane{memory->data(), 16 * 4};

    VideoFrame frame = VideoFrame::wrap(PixelFormat::bgra, 16, 2, {&plane, 1}, kFrameT0, memory);
    memory.reset();
    ASSERT_FALSE(frame.isNull());
    EXPECT_EQ(frame.planeData(0), plane.data);  // no copy

    VideoFrame copy = frame;
    frame = VideoFrame();
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(copy.row(0, 1)[0], 0x11);
    copy = VideoFrame();
    EXPECT_TRUE(watch.expired());
}

TEST(VideoFrameTest, OutOfRangeAccessGivesNothing) {
    const VideoFrame frame = WritableVideoFrame::allocate(PixelFormat::bgra, 8, 8).freeze(kFrameT0);
    EXPECT_EQ(frame.planeData(1), nullptr);
    EXPECT_EQ(frame.stride(-1), 0U);
    EXPECT_TRUE(frame.row(0, 8).empty());
    EXPECT_TRUE(frame.row(0, -1).empty());
    const VideoFrame null;
    EXPECT_EQ(null.planeCount(), 0);
    EXPECT_EQ(null.planeData(0), nullptr);
    EXPECT_TRUE(null.row(0, 0).empty());
}

}  // namespace
}  // namespace hollowkit
