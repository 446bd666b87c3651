// Sinks that take frames on the delivering thread: no hop to the main
// executor for them, and the island's only while its preview is open.

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/testing/fake_face_detector_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/manual_executor.h"
#include "lumenhollow/model/frame_path.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_camera.h"

namespace lumenhollow::test {
namespace {

using hollowkit::VideoFrame;

class OffMainSink final : public VideoSink {
public:
    struct Delivery {
        VideoFrame frame;
        uint64_t generation = 0;
        std::thread::id thread;
    };

    void enqueue(const VideoFrame&) override { record("enqueue"); }
    // Never asked of such a sink; were it asked, the path would flush it.
    bool hasFailed() const override { return true; }
    void flush() override { record("flush"); }
    void flushRemovingImage() override { record("remove"); }
    bool takesFramesOffMain() const override { return true; }
    void deliver(const VideoFrame& frame, uint64_t generation) override {
        std::lock_guard guard(mutex_);
        deliveries_.push_back({frame, generation, std::this_thread::get_id()});
    }
    void dropClearedGenerations(uint64_t generation) override { record("drop " + std::to_string(generation)); }

    std::vector<Delivery> deliveries() const {
        std::lock_guard guard(mutex_);
        return deliveries_;
    }
    std::vector<std::string> calls() const {
        std::lock_guard guard(mutex_);
        return calls_;
    }

private:
    void record(std::string call) {
        std::lock_guard guard(mutex_);
        calls_.push_back(std::move(call));
    }

    mutable std::mutex mutex_;
    std::vector<Delivery> deliveries_;  // guarded by mutex_
    std::vector<std::string> calls_;    // guarded by mutex_
};

FramePath::Parts pathParts(hollowkit::Executor& main, std::shared_ptr<VideoSink> display,
                           std::shared_ptr<VideoSink> notch) {
    return {std::make_shared<hollowkit::FrameProcessor>(),
            std::make_shared<CaptureTap>(main.clock()),
            std::make_shared<hollowkit::FaceDetector>(15.0, std::make_unique<hollowkit::FakeFaceDetectorBackend>(),
                                                      main),
            std::make_shared<AtomicFlag>(false),
            std::move(display),
            std::move(notch),
            std::make_shared<hollowkit::BackgroundPreview>(std::make_unique<hollowkit::FakeSegmentationBackend>(),
                                                           main)};
}

// What one sink of either kind was given, and on which thread.
struct Received {
    int frames = 0;
    bool samePixels = true;
    bool onDeliveringThread = true;
};

Received received(const VideoSink& sink, const VideoFrame& sent, std::thread::id deliverer) {
    Received result;
    if (const auto* offMain = dynamic_cast<const OffMainSink*>(&sink)) {
        for (const OffMainSink::Delivery& delivery : offMain->deliveries()) {
            ++result.frames;
            result.samePixels = result.samePixels && delivery.frame.sharesPixelsWith(sent);
            result.onDeliveringThread = result.onDeliveringThread && delivery.thread == deliverer;
        }
        EXPECT_TRUE(offMain->calls().empty()) << "nothing of the main executor's side was used";
        return result;
    }
    const auto& counting = dynamic_cast<const CountingVideoSink&>(sink);
    for (const VideoFrame& frame : counting.frames()) {
        ++result.frames;
        result.samePixels = result.samePixels && frame.sharesPixelsWith(sent);
    }
    result.onDeliveringThread = false;
    return result;
}

TEST(FramePathOffMainTest, OnlySinksOnTheMainExecutorCostAPost) {
    struct Case {
        bool displayOffMain;
        bool notchOffMain;
        bool islandOpen;
        size_t posts;
    };
    const Case cases[] = {
        {false, false, true, 1}, {true, false, false, 0}, {true, false, true, 1},
        {true, true, true, 0},   {true, true, false, 0},  {false, true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "display off main " << c.displayOffMain << ", island off main "
                                        << c.notchOffMain << ", island open " << c.islandOpen);
        hollowkit::ManualExecutor main;
        auto sink = [](bool offMain) -> std::shared_ptr<VideoSink> {
            if (offMain) return std::make_shared<OffMainSink>();
            return std::make_shared<CountingVideoSink>();
        };
        const FramePath::Parts parts = pathParts(main, sink(c.displayOffMain), sink(c.notchOffMain));
        parts.notchPreviewActive->set(c.islandOpen);
        const FramePath path(parts, main);
        const uint64_t generation = path.displayGeneration();
        const VideoFrame frame = FakeCamera::makeFrame(32, 18);
        std::thread camera([&] { path.handleVideo(frame, generation); });
        const std::thread::id deliverer = camera.get_id();
        camera.join();

        EXPECT_EQ(main.runUntilIdle(), c.posts);
        const Received display = received(*parts.displayLayer, frame, deliverer);
        const Received notch = received(*parts.notchDisplayLayer, frame, deliverer);
        EXPECT_EQ(display.frames, 1);
        EXPECT_EQ(notch.frames, c.islandOpen ? 1 : 0) << "the island only while its preview is open";
        EXPECT_TRUE(display.samePixels && notch.samePixels);
        EXPECT_EQ(display.onDeliveringThread, c.displayOffMain);
        if (c.islandOpen) {
            EXPECT_EQ(notch.onDeliveringThread, c.notchOffMain);
        }
    }
}

}  // namespace
}  // namespace lumenhollow::test
