// The X11 screen capture's memory bound against a real X server (Xvfb
// started by the test): a consumer that keeps every picture it is given (a
// writer that stopped taking them) holds at most the request's queue depth,
// whatever the picture's size; the capture drops the rest rather than
// allocating more.

#include <condition_variable>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/recording/x11/x11_screen_capture.h"
#include "screen_test_support.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

TEST(X11ScreenCaptureTest, AConsumerThatKeepsEveryPictureHoldsNoMoreThanTheQueueDepth) {
    struct Case {
        int width, height, outputWidth, outputHeight, queueDepth;
    };
    const Case cases[] = {
        {320, 240, 320, 240, 1},  // our own converter
        {320, 240, 320, 240, 6},
        {640, 360, 320, 180, 3},  // scaled by swscale
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " depth " +
                     std::to_string(c.queueDepth));
        std::string skip;
        auto server = testsupport::startXvfb(c.width, c.height, skip);
        if (!server) {
            if (!skip.empty()) GTEST_SKIP() << skip;
            return;
        }
        ScreenCaptureRequest request;
        request.display = DisplayInfo{1, 0, 0, c.width, c.height, true, false};
        request.outputWidth = c.outputWidth;
        request.outputHeight = c.outputHeight;
        request.minimumFrameInterval = 2ms;
        request.queueDepth = c.queueDepth;
        std::mutex mutex;
        std::condition_variable arrived;
        std::vector<VideoFrame> kept;
        ScreenCaptureHandlers handlers;
        handlers.onFrame = [&](VideoFrame frame, ScreenFrameStatus) {
            std::lock_guard lock(mutex);
            kept.push_back(std::move(frame));
            arrived.notify_all();
        };
        X11ScreenCaptureBackend backend(X11ScreenCaptureBackend::Options{server->displayName()});
        auto capture = backend.start(request, handlers);
        ASSERT_TRUE(capture.has_value()) << capture.error();
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(arrived.wait_for(lock, 30s, [&] { return kept.size() >= static_cast<size_t>(c.queueDepth); }));
            // Every grab slot from here on (hundreds of them) finds no room.
            EXPECT_FALSE(
                arrived.wait_for(lock, 1s, [&] { return kept.size() > static_cast<size_t>(c.queueDepth); }));
            EXPECT_EQ(kept.size(), static_cast<size_t>(c.queueDepth));
            // A picture given back makes room for exactly one more.
            kept.erase(kept.begin());
            EXPECT_TRUE(arrived.wait_for(lock, 30s, [&] { return kept.size() == static_cast<size_t>(c.queueDepth); }));
        }
        capture.value().reset();
    }
}

}  // namespace
}  // namespace hollowkit
