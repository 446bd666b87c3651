#include "hollowkit/usb/usb_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "hollowkit/base/loop_executor.h"
#include "usb_camera_rig.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::UsbCameraRig;

using Texts = std::vector<std::string>;

TEST(UsbCameraTest, OpensTheCameraInItsDefaultFormatAndReportsInOrder) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    EXPECT_EQ(rig.eventTexts(), (Texts{"status: Opening USB camera",
                                        "devicesChanged",  // microphone chosen
                                        "devicesChanged",  // default format selected
                                        "status: USB: Osmo Pocket 3", "devicesChanged",
                                        "devicesChanged"}));  // zoom range known
    EXPECT_EQ(camera.formats(), (std::vector<VideoFormatOption>{
                                    {1920, 1080, 60}, {1920, 1080, 30}, {1280, 720, 30}, {1080, 1920, 30}}));
    EXPECT_EQ(camera.activeFormat(), (VideoFormatOption{1920, 1080, 60}));
    EXPECT_EQ(camera.zoomRange(), (ZoomRange{100, 400}));
    EXPECT_TRUE(rig.log.contains("Status: Opening USB camera"));
    EXPECT_TRUE(rig.log.contains("USB format selected: 1080p 60 FPS (1920x1080@60)"));
    EXPECT_TRUE(rig.device.isStreaming());
    EXPECT_EQ(rig.device.currentInterval(), (FakeV4l2Device::Fraction{1, 60}));
    EXPECT_TRUE(camera.supportsPositioning());
    EXPECT_FALSE(camera.supportsCardRecording());
    EXPECT_FALSE(camera.supportsCameraSettings());
}

TEST(UsbCameraTest, HandsFramesOnAndLogsTheirSizeOnlyWhenItChanges) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(rig.deliverFrame());
    EXPECT_EQ(rig.lastFrame().width(), 1920);
    EXPECT_EQ(rig.logCount("USB frames now 1920x1080"), 1U);

    camera.selectFormat({1280, 720, 30});
    rig.executor.runUntilIdle();
    EXPECT_EQ(camera.activeFormat(), (VideoFormatOption{1280, 720, 30}));
    ASSERT_TRUE(rig.deliverFrame());
    EXPECT_EQ(rig.lastFrame().height(), 720);
    EXPECT_EQ(rig.logCount("USB frames now 1280x720"), 1U);

    // An option this camera does not offer changes nothing and says nothing.
    const size_t events = rig.events.size();
    const size_t lines = rig.log.lines().size();
    camera.selectFormat({3840, 2160, 30});
    rig.executor.runUntilIdle();
    EXPECT_EQ(rig.events.size(), events);
    EXPECT_EQ(rig.log.lines().size(), lines);
    EXPECT_EQ(camera.activeFormat(), (VideoFormatOption{1280, 720, 30}));
}

TEST(UsbCameraTest, AFormatTheDeviceRefusesIsLoggedAndKeepsTheOldOne) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    rig.device.failIoctl(VIDIOC_S_FMT, EBUSY, 1);
    const size_t events = rig.events.size();
    camera.selectFormat({1280, 720, 30});
    rig.executor.runUntilIdle();
    EXPECT_TRUE(rig.log.contains("USB format selection failed: VIDIOC_S_FMT: Device or resource busy"));
    EXPECT_EQ(rig.events.size(), events);
    EXPECT_EQ(camera.activeFormat(), (VideoFormatOption{1920, 1080, 60}));
    ASSERT_TRUE(rig.deliverFrame());
    EXPECT_EQ(rig.lastFrame().width(), 1920);
}

TEST(UsbCameraTest, FailuresOfTheOpenSequenceEndInOneClearEvent) {
    struct Case {
        const char* name;
        std::function<void(UsbCameraRig&)> arrange;
        const char* failure;
    };
    const Case cases[] = {
        {"no camera", [](UsbCameraRig& rig) { rig.sysfs.removeDevice("1-2"); },
         "No DJI Pocket found on USB. Choose Webcam on the camera screen."},
        {"not allowed", [](UsbCameraRig& rig) { rig.device.failOpen(EACCES); }, "Camera permission was denied"},
        {"every ioctl fails", [](UsbCameraRig& rig) { rig.device.failEveryIoctl(EIO); },
         "Could not open the USB camera: Input/output error"},
        {"streaming refused", [](UsbCameraRig& rig) { rig.device.failIoctl(VIDIOC_STREAMON, EIO); },
         "Could not open the USB camera: Input/output error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UsbCameraRig rig;
        c.arrange(rig);
        rig.make().start();
        rig.executor.advance(5s);
        Texts texts;
        for (const std::string& text : rig.eventTexts()) {
            if (text != "devicesChanged" && text != "battery") texts.push_back(text);
        }
        EXPECT_EQ(texts, (Texts{"status: Opening USB camera", std::string("failed: ") + c.failure}));
        EXPECT_TRUE(rig.log.contains(std::string("Failed: ") + c.failure));
        EXPECT_FALSE(rig.device.isStreaming());
        EXPECT_EQ(rig.count(CameraEvent::Kind::stats), 0);  // no controls, no timers
    }
}

TEST(UsbCameraTest, StopHaltsTheGimbalThenStopsCaptureThenReportsThenCompletes) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open();
    ASSERT_TRUE(rig.deliverFrame());
    rig.device.clearCalls();
    int completions = 0;
    camera.stop([&] {
        ++completions;
        rig.sequence.push_back("completion");
    });
    rig.executor.runUntilIdle();
    ASSERT_GE(rig.sequence.size(), 2U);
    EXPECT_EQ(Texts(rig.sequence.end() - 2, rig.sequence.end()), (Texts{"stopped", "completion"}));
    EXPECT_TRUE(rig.log.contains("Stopped"));

    // The halt (relative speeds 0) went out before streaming was turned off.
    const auto calls = rig.device.calls();
    const auto halt = std::find_if(calls.begin(), calls.end(), [](const FakeV4l2Device::Call& call) {
        return call.request == VIDIOC_S_EXT_CTRLS && call.controls == testsupport::relativeMove(0, 0);
    });
    const auto off = std::find_if(calls.begin(), calls.end(),
                                  [](const FakeV4l2Device::Call& call) { return call.request == VIDIOC_STREAMOFF; });
    ASSERT_NE(halt, calls.end());
    ASSERT_NE(off, calls.end());
    EXPECT_LT(halt - calls.begin(), off - calls.begin());
    EXPECT_FALSE(rig.device.isStreaming());
    EXPECT_EQ(rig.device.mappedBufferCount(), 0);
    EXPECT_EQ(rig.audio.openCaptureCount(), 0);
    EXPECT_EQ(rig.monitor.endedSubscriptions(), 1);

    // The timers are gone: no statistics any more, and one completion only.
    const int stats = rig.count(CameraEvent::Kind::stats);
    rig.executor.advance(10s);
    EXPECT_EQ(rig.count(CameraEvent::Kind::stats), stats);
    rig.camera.reset();
    rig.executor.runUntilIdle();
    EXPECT_EQ(completions, 1);
}

// Events raised by a call on the main executor come later through it, never
// inside the call: the owner may act on one (drop the camera, say) without
// re-entering the camera.
TEST(UsbCameraTest, NoEventIsDeliveredInsideTheCallThatRaisedIt) {
    struct Case {
        const char* name;
        bool openFirst;
        std::function<void(USBCamera&)> call;
        const char* firstEvent;
    };
    const Case cases[] = {
        {"start", false, [](USBCamera& camera) { camera.start(); }, "status: Opening USB camera"},
        {"stop", true, [](USBCamera& camera) { camera.stop([] {}); }, "stopped"},
        {"stop before start", false, [](USBCamera& camera) { camera.stop([] {}); }, "stopped"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UsbCameraRig rig;
        USBCamera& camera = c.openFirst ? rig.open() : rig.make();
        bool inCall = false;
        int deliveredInCall = 0;
        Texts later;
        camera.setOnEvent([&](const CameraEvent& event) {
            deliveredInCall += inCall ? 1 : 0;
            later.push_back(testsupport::eventText(event));
        });
        inCall = true;
        c.call(camera);
        inCall = false;
        EXPECT_EQ(deliveredInCall, 0);
        EXPECT_TRUE(later.empty());
        rig.executor.runUntilIdle();
        ASSERT_FALSE(later.empty());
        EXPECT_EQ(later.front(), c.firstEvent);
    }
}

TEST(UsbCameraTest, StoppingACameraThatNeverOpenedStillReportsAndCompletes) {
    UsbCameraRig rig;
    USBCamera& camera = rig.make();
    int completions = 0;
    camera.stop([&] { ++completions; });
    rig.executor.runUntilIdle();
    EXPECT_EQ(rig.eventTexts(), (Texts{"stopped"}));
    EXPECT_EQ(completions, 1);
    EXPECT_TRUE(rig.device.calls().empty());  // no halt: there were no controls
}

TEST(UsbCameraTest, ACameraDestroyedBeforeItsStopRanStillCompletesOnce) {
    UsbCameraRig rig;
    rig.open();
    int completions = 0;
    rig.camera->stop([&] { ++completions; });
    rig.camera.reset();
    rig.executor.runUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(rig.device.isStreaming());
    EXPECT_EQ(rig.device.openNodeCount(), 0);
}

TEST(UsbCameraTest, ACameraUnpluggedMidStreamIsReportedOff) {
    UsbCameraRig rig;
    rig.open();
    ASSERT_TRUE(rig.deliverFrame());
    rig.device.vanish();
    ASSERT_TRUE(rig.executor.waitFor([&] { return rig.count(CameraEvent::Kind::cameraOff) == 1; }));
    EXPECT_TRUE(rig.log.contains("USB video ended: "));
    // The gimbal tick and statistics go on failing quietly; nothing crashes.
    rig.executor.advance(5s);
    ASSERT_FALSE(rig.stats().empty());
    EXPECT_FALSE(rig.stats().back().gimbalResponding);
    EXPECT_EQ(rig.count(CameraEvent::Kind::failed), 0);
}

TEST(UsbCameraTest, WithoutUvcControlsTheVideoGoesOnAlone) {
    UsbCameraRig rig;
    FakeUsbSysfs::Device noControls;
    noControls.descriptors = fakeUvcDescriptors({.videoControl = false});
    rig.sysfs.addDevice(noControls);
    rig.sysfs.addVideoNode(noControls.name, 0, 0, "Osmo Pocket 3");
    USBCamera& camera = rig.open();
    EXPECT_EQ(rig.eventTexts().back(), "status: USB video only: gimbal controls unavailable");
    EXPECT_FALSE(camera.zoomRange());
    EXPECT_FALSE(camera.currentPosition());
    camera.gimbal().requestRecenter();
    rig.executor.advance(2s);
    ASSERT_EQ(rig.stats().size(), 1U);
    EXPECT_FALSE(rig.stats()[0].gimbalResponding);
    EXPECT_FALSE(rig.stats()[0].attitude);
    // The tick looks at nothing without controls: the request stays.
    EXPECT_TRUE(camera.gimbal().takeRecenterRequest());
}

TEST(UsbCameraTest, LimitsWhoseMaximumLiesBelowTheMinimumGiveNoZoomRange) {
    UsbCameraRig rig;
    rig.device.setControlRange(V4L2_CID_ZOOM_ABSOLUTE, 400, 100);
    USBCamera& camera = rig.open();
    EXPECT_FALSE(camera.zoomRange());
    EXPECT_EQ(rig.count(CameraEvent::Kind::failed), 0);
    ASSERT_TRUE(rig.deliverFrame());
}

TEST(UsbCameraTest, TheStatusLinkBringsTheBattery) {
    UsbCameraRig rig;
    rig.open();
    ASSERT_TRUE(rig.advanceUntil([&] { return rig.camera->bluetoothLink()->paired(); }, 10s));
    EXPECT_FALSE(rig.camera->bluetoothLink()->wakesWiFi());
    rig.pocket.pushBattery(76, true);
    DumlFrame other;
    other.target = DumlFrame::makeTarget(0x04, 0x02);
    other.flags = 0x00;
    other.cmdSet = 0x04;
    other.cmdId = 0x05;
    other.payload = Bytes(6, 0);
    rig.pocket.sendFrame(other);  // telemetry, but no battery
    rig.executor.advance(1s);
    ASSERT_EQ(rig.count(CameraEvent::Kind::battery), 1);
    const auto battery = std::find_if(rig.events.begin(), rig.events.end(), [](const CameraEvent& event) {
        return event.kind() == CameraEvent::Kind::battery;
    });
    EXPECT_EQ(*battery->get<BatteryStatus>(), (BatteryStatus{76, true}));

    rig.camera->stop([] {});
    rig.executor.runUntilIdle();
    EXPECT_FALSE(rig.radio.connected(rig.pocket.identity().id));
}

TEST(UsbCameraTest, WithoutAPairingIdentifierThereIsNoLink) {
    UsbCameraRig rig;
    USBCamera& camera = rig.open(std::nullopt);
    rig.executor.advance(3s);
    EXPECT_EQ(camera.bluetoothLink(), nullptr);
    EXPECT_EQ(rig.radio.scanStarts(), 0);
    rig.pocket.pushBattery(50, false);
    rig.executor.advance(1s);
    EXPECT_EQ(rig.count(CameraEvent::Kind::battery), 0);
}

TEST(UsbCameraTest, AFailingStatusLinkIsOnlyLogged) {
    UsbCameraRig rig;
    rig.radio.setAdapterState(BleAdapterState::poweredOff);
    rig.open();
    rig.executor.advance(30s);
    EXPECT_TRUE(rig.log.contains("Bluetooth status link unavailable: "));
    EXPECT_EQ(rig.count(CameraEvent::Kind::failed), 0);
}

TEST(UsbCameraTest, RunsOnItsOwnQueuesAndThreads) {
    // The camera's real queues, a real main loop, and the handlers on them.
    UsbCameraRig rig;
    LoopExecutor main;
    std::mutex mutex;
    std::condition_variable changed;
    Texts sequence;
    int frames = 0;
    const auto record = [&](std::string text) {
        std::lock_guard lock(mutex);
        sequence.push_back(std::move(text));
        changed.notify_all();
    };
    const auto waitFor = [&](const std::function<bool()>& done) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, done);
    };
    const auto onMain = [&](std::function<void()> task) {
        std::promise<void> done;
        main.post([&] {
            task();
            done.set_value();
        });
        done.get_future().wait();
    };

    const USBCameraServices fakes = rig.services();
    std::unique_ptr<USBCamera> camera;
    onMain([&] {
        camera = std::make_unique<USBCamera>(
            USBCameraServices{.main = main, .video = fakes.video, .usb = fakes.usb, .audio = fakes.audio,
                              .deviceMonitor = fakes.deviceMonitor},
            std::nullopt);
        camera->setOnEvent([&](const CameraEvent& event) { record(testsupport::eventText(event)); });
        camera->setOnVideoSample([&](const VideoFrame&) {
            std::lock_guard lock(mutex);
            ++frames;
            changed.notify_all();
        });
        camera->start();
    });
    ASSERT_TRUE(waitFor([&] { return std::count(sequence.begin(), sequence.end(), "status: USB: Osmo Pocket 3") > 0; }));
    ASSERT_TRUE(rig.device.produceFrame());
    ASSERT_TRUE(waitFor([&] { return frames >= 1; }));
    const auto position = camera->currentPosition();  // waits for the control queue
    ASSERT_TRUE(position);
    EXPECT_EQ(position->zoom, 100);
    onMain([&] { camera->stop([&] { record("completion"); }); });
    ASSERT_TRUE(waitFor([&] { return !sequence.empty() && sequence.back() == "completion"; }));
    EXPECT_EQ(sequence[sequence.size() - 2], "stopped");
    onMain([&] { camera.reset(); });
    EXPECT_FALSE(rig.device.isStreaming());
    EXPECT_EQ(rig.device.openNodeCount(), 0);
}

}  // namespace
}  // namespace hollowkit
