#include "hollowkit/camera/pocket_camera.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "hollowkit/testing/manual_executor.h"

namespace hollowkit {
namespace {

// The smallest route: performs nothing, delivers what the test pushes.
class BareCamera final : public PocketCamera {
public:
    GimbalCommands& gimbal() override { return gimbal_; }
    std::optional<ZoomRange> zoomRange() const override { return std::nullopt; }
    bool supportsPositioning() const override { return false; }
    bool supportsCardRecording() const override { return false; }
    bool supportsCameraSettings() const override { return false; }
    std::vector<MicrophoneOption> microphones() const override { return {}; }
    std::optional<MicrophoneOption> activeMicrophone() const override { return std::nullopt; }
    std::optional<float> audioLevel() const override { return std::nullopt; }
    std::vector<VideoFormatOption> formats() const override { return {}; }
    std::optional<VideoFormatOption> activeFormat() const override { return std::nullopt; }
    void start() override {}
    void stop(std::function<void()> completion) override { completion(); }
    void setZoom(int) override {}
    std::optional<CameraPosition> currentPosition() override { return std::nullopt; }
    void move(const CameraPosition&) override {}
    void selectMicrophone(std::optional<std::string>) override {}
    void selectFormat(const VideoFormatOption&) override {}
    void flipGimbal() override {}
    void setCardRecording(bool) override {}
    void applySetting(const CameraSetting&) override {}

    using PocketCamera::callOnAudioSample;
    using PocketCamera::callOnEvent;
    using PocketCamera::callOnVideoSample;
    using PocketCamera::postEvent;

private:
    GimbalCommands gimbal_;
};

TEST(PocketCameraTest, DeliversTheFrameHandleWithoutCopyingPixels) {
    BareCamera camera;
    const VideoFrame frame = WritableVideoFrame::allocate(PixelFormat::nv12, 64, 64).freeze(TimePoint{});
    const uint8_t* seen = nullptr;
    camera.setOnVideoSample([&](const VideoFrame& delivered) { seen = delivered.planeData(0); });

    camera.callOnVideoSample(frame);

    EXPECT_EQ(seen, frame.planeData(0));
}

TEST(PocketCameraTest, UnsetOrClearedHandlersAreSkipped) {
    BareCamera camera;
    camera.callOnEvent(CameraEvent::stopped());
    camera.callOnVideoSample(VideoFrame());
    camera.callOnAudioSample(AudioChunk());

    int events = 0;
    camera.setOnEvent([&](const CameraEvent&) { ++events; });
    camera.callOnEvent(CameraEvent::cameraOff());
    camera.setOnEvent(nullptr);
    camera.callOnEvent(CameraEvent::cameraOff());
    EXPECT_EQ(events, 1);
}

TEST(PocketCameraTest, AHandlerMayClearItselfWhileRunning) {
    BareCamera camera;
    auto alive = std::make_shared<int>(42);
    std::weak_ptr<int> watch = alive;
    int calls = 0;
    int seenDuringCall = 0;
    camera.setOnAudioSample([&camera, &calls, &seenDuringCall, alive = std::move(alive)](const AudioChunk&) {
        ++calls;
        camera.setOnAudioSample(nullptr);  // must not deadlock
        seenDuringCall = *alive;           // captures stay valid until the call ends
    });

    camera.callOnAudioSample(AudioChunk());
    camera.callOnAudioSample(AudioChunk());

    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seenDuringCall, 42);
    EXPECT_TRUE(watch.expired());
}

// Posting never calls the handler in the caller; the handler set when the
// executor gets to the event receives it; a camera gone by then receives
// nothing (and is not touched).
TEST(PocketCameraTest, PostedEventsReachTheHandlerOfTheMomentOrNoOne) {
    ManualExecutor main;
    auto camera = std::make_unique<BareCamera>();
    std::vector<std::string> seen;
    camera->setOnEvent([&](const CameraEvent&) { seen.push_back("first"); });
    camera->postEvent(main, CameraEvent::cameraOff());
    EXPECT_TRUE(seen.empty());
    camera->setOnEvent([&](const CameraEvent& event) {
        seen.push_back(event.kind() == CameraEvent::Kind::cameraOff ? "second" : "other");
    });
    main.runUntilIdle();
    EXPECT_EQ(seen, std::vector<std::string>{"second"});

    camera->postEvent(main, CameraEvent::stopped());
    camera.reset();
    EXPECT_EQ(main.runUntilIdle(), 1u);
    EXPECT_EQ(seen.size(), 1u);
}

// A handler that drops the camera on an event still lets the next queued
// event find the camera gone.
TEST(PocketCameraTest, AHandlerMayDropTheCamera) {
    ManualExecutor main;
    auto camera = std::make_unique<BareCamera>();
    int calls = 0;
    camera->setOnEvent([&](const CameraEvent&) {
        ++calls;
        camera.reset();
    });
    camera->postEvent(main, CameraEvent::stopped());
    camera->postEvent(main, CameraEvent::stopped());
    main.runUntilIdle();
    EXPECT_EQ(calls, 1);
}

TEST(PocketCameraTest, HandlersCanBeReplacedWhileFramesFlow) {
    BareCamera camera;
    std::atomic<int> delivered{0};
    std::atomic<bool> done{false};
    std::thread capture([&] {
        const VideoFrame frame = WritableVideoFrame::allocate(PixelFormat::bgra, 8, 8).freeze(TimePoint{});
        while (!done.load()) {
            camera.callOnVideoSample(frame);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        camera.setOnVideoSample([&delivered](const VideoFrame&) { delivered.fetch_add(1); });
        camera.setOnVideoSample(nullptr);
    }
    // Keep a handler set until the capture thread has demonstrably used one.
    camera.setOnVideoSample([&delivered](const VideoFrame&) { delivered.fetch_add(1); });
    while (delivered.load() == 0) {
        std::this_thread::yield();
    }
    done.store(true);
    capture.join();
    EXPECT_GT(delivered.load(), 0);
}

}  // namespace
}  // namespace hollowkit
