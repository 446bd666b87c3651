// The main window's sink behind the model's frame path: frames are prepared
// for the screen on the camera's thread, the GUI thread only takes and
// paints them, and nothing of a replaced camera shows after the clear.

#include "lumenhollow/ui/window/video_feed.h"

#include <QCoreApplication>
#include <QPointer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "hollowkit/testing/fake_face_detector_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/manual_executor.h"
#include "lumenhollow/model/frame_path.h"
#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_camera.h"
#include "lumenhollow/ui/window/video_surface.h"

namespace lumenhollow::test {
namespace {

using hollowkit::VideoFrame;

struct FeedPath {
    hollowkit::ManualExecutor main;
    std::shared_ptr<VideoFeed> feed = std::make_shared<VideoFeed>();
    FramePath path{FramePath::Parts{
                       std::make_shared<hollowkit::FrameProcessor>(),
                       std::make_shared<CaptureTap>(main.clock()),
                       std::make_shared<hollowkit::FaceDetector>(
                           15.0, std::make_unique<hollowkit::FakeFaceDetectorBackend>(), main),
                       std::make_shared<AtomicFlag>(false),
                       feed,
                       std::make_shared<CountingVideoSink>(),
                       std::make_shared<hollowkit::BackgroundPreview>(
                           std::make_unique<hollowkit::FakeSegmentationBackend>(), main),
                   },
                   main};

    // Delivers `frame` from a thread of its own, as a camera does, and waits for it.
    void deliverFromCamera(const VideoFrame& frame, uint64_t generation) {
        std::thread camera([&] { path.handleVideo(frame, generation); });
        camera.join();
    }
};

// The application's feeds outlive its event loop: a relay left to a deferred
// delete then would never go. From another thread it still waits for its loop.
TEST(VideoFeedTest, ItsRelayGoesWithItOnTheGuiThreadAndWaitsForTheLoopFromAnother) {
    auto here = std::make_unique<VideoFeed>();
    const QPointer<FeedRelay> hereRelay = &here->relay();
    here.reset();
    EXPECT_TRUE(hereRelay.isNull()) << "deleted at once, no event processed";

    auto there = std::make_unique<VideoFeed>();
    const QPointer<FeedRelay> thereRelay = &there->relay();
    std::thread([&there] { there.reset(); }).join();
    EXPECT_FALSE(thereRelay.isNull()) << "never deleted off its own thread";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(thereRelay.isNull());
}

TEST(VideoFeedTest, AFrameFromTheCameraThreadIsPreparedThereAndShownByTheGuiThread) {
    FeedPath p;
    PreviewInput input({});
    VideoSurface surface(*p.feed, input);
    p.feed->mailbox().setTargetSize(480, 270);

    p.deliverFromCamera(FakeCamera::makeFrame(1920, 1080), p.path.displayGeneration());
    // The GUI thread has run nothing yet: the frame waiting is already the
    // surface's size and format, so the camera's thread prepared it.
    EXPECT_EQ(p.main.runUntilIdle(), 0u) << "no hop through the main executor";
    const FrameMailbox::Counts counts = p.feed->mailbox().counts();
    EXPECT_EQ(counts.pushed, 1u);
    EXPECT_EQ(counts.posted, 1u);

    QCoreApplication::processEvents();  // the mailbox's one wake-up
    const VideoFrame& shown = surface.currentFrame();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown.pixelFormat(), hollowkit::PixelFormat::bgra);
    EXPECT_EQ(shown.width(), 480);
    EXPECT_EQ(shown.height(), 270);
}

TEST(VideoFeedTest, ASurfaceMadeAfterTheLastOneWentIsWokenByTheNextFrames) {
    // The main window closed and opened again: frames came, and their
    // wake-up arrived, while no surface was there to take them.
    FeedPath p;
    PreviewInput input({});
    {
        VideoSurface closed(*p.feed, input);
        p.deliverFromCamera(FakeCamera::makeFrame(64, 36), p.path.displayGeneration());
        QCoreApplication::processEvents();
        ASSERT_TRUE(closed.currentFrame());
    }
    p.deliverFromCamera(FakeCamera::makeFrame(48, 27), p.path.displayGeneration());
    QCoreApplication::processEvents();  // the wake-up reaches nobody

    VideoSurface reopened(*p.feed, input);
    ASSERT_TRUE(reopened.currentFrame()) << "the frame that came while closed shows at once";
    EXPECT_EQ(reopened.currentFrame().width(), 48);
    for (const int width : {32, 96}) {
        p.deliverFromCamera(FakeCamera::makeFrame(width, width * 9 / 16), p.path.displayGeneration());
        QCoreApplication::processEvents();
        ASSERT_TRUE(reopened.currentFrame());
        EXPECT_EQ(reopened.currentFrame().width(), width) << "a later frame did not wake the new surface";
    }
    const FrameMailbox::Counts counts = p.feed->mailbox().counts();
    EXPECT_EQ(counts.posted, 4u) << "each frame woke the GUI thread";
    EXPECT_EQ(counts.delivered, 4u);
}

TEST(VideoFeedTest, AFrameOfTheReplacedCameraNeverShowsAfterTheClear) {
    // Each row: where the old camera's frame is when the camera is replaced.
    enum class Old { waitingInTheMailbox, deliveredAfterTheClear, shownBeforeTheClear };
    for (Old where : {Old::waitingInTheMailbox, Old::deliveredAfterTheClear, Old::shownBeforeTheClear}) {
        SCOPED_TRACE(static_cast<int>(where));
        FeedPath p;
        PreviewInput input({});
        VideoSurface surface(*p.feed, input);
        const uint64_t old = p.path.displayGeneration();
        if (where != Old::deliveredAfterTheClear) p.deliverFromCamera(FakeCamera::makeFrame(64, 36), old);
        if (where == Old::shownBeforeTheClear) {
            QCoreApplication::processEvents();
            ASSERT_TRUE(surface.currentFrame());
        }

        p.path.clearDisplay();
        if (where == Old::deliveredAfterTheClear) p.deliverFromCamera(FakeCamera::makeFrame(64, 36), old);
        QCoreApplication::processEvents();
        EXPECT_FALSE(surface.currentFrame()) << "the clear empties the surface and keeps it empty";

        // The new camera's frames show.
        p.deliverFromCamera(FakeCamera::makeFrame(32, 18), p.path.displayGeneration());
        QCoreApplication::processEvents();
        ASSERT_TRUE(surface.currentFrame());
        EXPECT_EQ(surface.currentFrame().width(), 32);
    }
}

TEST(VideoFeedTest, AFrameBeingPreparedWhileTheMailboxIsClearedIsDropped) {
    // The camera's thread keeps pushing frames of the old generation while
    // the GUI thread clears: once the clear has returned, none may be taken,
    // however their preparing overlapped it.
    FrameMailbox mailbox([] {});
    std::atomic<bool> stop{false};
    std::thread camera([&] {
        const VideoFrame frame = FakeCamera::makeFrame(320, 180);
        while (!stop.load()) mailbox.push(frame, 0);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto pushedAtLeast = [&](uint64_t count) {
        while (mailbox.counts().pushed < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
    };
    pushedAtLeast(1);
    mailbox.dropGenerationsBefore(1);
    const uint64_t atClear = mailbox.counts().pushed;
    int taken = 0;
    for (uint64_t more = 1; more <= 50; ++more) {
        pushedAtLeast(atClear + more);
        if (mailbox.take()) ++taken;
    }
    stop = true;
    camera.join();
    EXPECT_GE(mailbox.counts().pushed, atClear + 50) << "the camera's thread stalled";
    EXPECT_EQ(taken, 0);

    mailbox.push(FakeCamera::makeFrame(32, 18), 1);
    EXPECT_TRUE(mailbox.take()) << "the current generation still shows";
    mailbox.dropGenerationsBefore(0);
    mailbox.push(FakeCamera::makeFrame(32, 18), 0);
    EXPECT_FALSE(mailbox.take()) << "a lower generation does not bring old frames back";
}

}  // namespace
}  // namespace lumenhollow::test
