#include "hollowkit/media/pixel_buffer_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "hollowkit/testing/allocation_count.h"

namespace hollowkit {
namespace {

const TimePoint kPoolT0{};

TEST(PixelBufferPoolTest, ReusesMemoryOnceTheLastFrameIsGone) {
    PixelBufferPool pool(PixelFormat::nv12, 1920, 1080);
    VideoFrame first = pool.acquire().freeze(kPoolT0);
    const uint8_t* memory = first.planeData(0);
    VideoFrame stillShown = first;

    first = VideoFrame();
    EXPECT_EQ(pool.idleCount(), 0U);  // a handle still holds it
    WritableVideoFrame other = pool.acquire();
    EXPECT_NE(other.planeData(0), memory);

    stillShown = VideoFrame();
    EXPECT_EQ(pool.idleCount(), 1U);
    WritableVideoFrame reused = pool.acquire();
    EXPECT_EQ(reused.planeData(0), memory);
    EXPECT_EQ(reused.width(), 1920);
    EXPECT_EQ(reused.pixelFormat(), PixelFormat::nv12);
    EXPECT_EQ(pool.idleCount(), 0U);
}

// A buffer counts as leased until its last frame is gone, whether it then
// waits for reuse or is freed past the idle limit.
TEST(PixelBufferPoolTest, CountsABufferLeasedUntilItsLastFrameIsGone) {
    PixelBufferPool pool(PixelFormat::nv12, 64, 64, 1);
    VideoFrame first = pool.acquire().freeze(kPoolT0);
    VideoFrame copy = first;
    VideoFrame second = pool.acquire().freeze(kPoolT0);
    EXPECT_EQ(pool.leasedCount(), 2U);
    first = VideoFrame();
    EXPECT_EQ(pool.leasedCount(), 2U);
    copy = VideoFrame();
    second = VideoFrame();  // past the idle limit: freed
    EXPECT_EQ(pool.leasedCount(), 0U);
    EXPECT_EQ(pool.idleCount(), 1U);
    VideoFrame again = pool.acquire().freeze(kPoolT0);
    EXPECT_EQ(pool.leasedCount(), 1U);
}

TEST(PixelBufferPoolTest, KeepsNoMoreThanItsIdleLimit) {
    PixelBufferPool pool(PixelFormat::bgra, 64, 64, 2);
    std::vector<VideoFrame> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(pool.acquire().freeze(kPoolT0));
    }
    frames.clear();
    EXPECT_EQ(pool.idleCount(), 2U);
}

TEST(PixelBufferPoolTest, FramesMayOutliveThePool) {
    VideoFrame frame;
    {
        PixelBufferPool pool(PixelFormat::bgra, 64, 64);
        WritableVideoFrame writable = pool.acquire();
        writable.row(0, 63)[255] = 7;
        frame = std::move(writable).freeze(kPoolT0);
    }
    EXPECT_EQ(frame.row(0, 63)[255], 7);
    frame = VideoFrame();  // freed, not returned (ASan reports a leak or a bad access otherwise)
}

#if HK_COUNTS_ALLOCATIONS
// A warm pool hands out frames without touching the heap: the buffer comes
// back with the handle frames share it through, copies included.
TEST(PixelBufferPoolTest, AWarmPoolAllocatesNothingPerFrame) {
    PixelBufferPool pool(PixelFormat::bgra, 64, 64, 2);
    std::vector<VideoFrame> held;
    held.reserve(4);
    for (int i = 0; i < 2; ++i) held.push_back(pool.acquire().freeze(kPoolT0));
    held.clear();
    const uint64_t before = hollowkit::testsupport::allocationsOnThread;
    for (int i = 0; i < 20; ++i) {
        VideoFrame frame = pool.acquire().freeze(kPoolT0);
        const VideoFrame shown = frame;
        held.push_back(pool.acquire().freeze(kPoolT0));
        held.clear();
    }
    EXPECT_EQ(hollowkit::testsupport::allocationsOnThread - before, 0U);
    EXPECT_EQ(pool.leasedCount(), 0U);
    EXPECT_EQ(pool.idleCount(), 2U);
}
#endif

// A frame given up on another thread comes back whole: its memory and
// handle are handed out again with the same planes.
TEST(PixelBufferPoolTest, AFrameDroppedOnAnotherThreadIsReused) {
    PixelBufferPool pool(PixelFormat::nv12, 64, 32, 1);
    VideoFrame frame = pool.acquire().freeze(kPoolT0);
    const uint8_t* luma = frame.planeData(0);
    const uint8_t* chroma = frame.planeData(1);
    std::thread([f = std::move(frame)]() mutable { f = VideoFrame(); }).join();
    EXPECT_EQ(pool.leasedCount(), 0U);
    WritableVideoFrame again = pool.acquire();
    EXPECT_EQ(again.planeData(0), luma);
    EXPECT_EQ(again.planeData(1), chroma);
    EXPECT_EQ(again.height(), 32);
}

TEST(PixelBufferPoolTest, InvalidSizeGivesNullFrames) {
    PixelBufferPool pool(PixelFormat::nv12, 0, 1080);
    EXPECT_TRUE(pool.acquire().isNull());
}

}  // namespace
}  // namespace hollowkit
