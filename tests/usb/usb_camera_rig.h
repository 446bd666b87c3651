#pragma once

// UsbCameraRig: a USBCamera wired to fakes only. A Pocket on USB as the
// fake V4L2 device and the fake sysfs tree show it (capture node, camera
// terminal controls, cheap NV12 formats), fake sound sources and device
// monitor, the simulated camera's Bluetooth side on the in-process radio,
// and one ManualExecutor standing in for the main executor and the
// camera's three queues, so every step and timer runs on the test thread
// on virtual time. Frames still come from the capture device's real stream
// thread; the rig waits for them with a bound.

#include <condition_variable>
#include <functional>
#include <linux/videodev2.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/testing/fake_audio_source.h"
#include "hollowkit/testing/fake_ble_central.h"
#include "hollowkit/testing/fake_device_monitor.h"
#include "hollowkit/testing/fake_usb_sysfs.h"
#include "hollowkit/testing/fake_v4l2_device.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/sim_pocket_ble.h"
#include "hollowkit/usb/linux/sysfs_usb_bus.h"
#include "hollowkit/usb/linux/v4l2_video_device.h"
#include "hollowkit/usb/usb_camera.h"
#include "usb_test_support.h"

namespace hollowkit::testsupport {

inline constexpr const char* kPairingIdentifier = "0123456789abcdef0123456789abcdef";

// Sound sources as the sound server lists them.
inline const AudioSourceInfo kBuiltInMic{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo",
                                         uint16_t{0x8086}};
inline const AudioSourceInfo kPocketAudio{"alsa_input.usb-DJI_OsmoPocket3-02.analog-stereo", "Osmo Pocket 3",
                                          uint16_t{0x2CA3}};
inline const AudioSourceInfo kDjiMic{"alsa_input.usb-DJI_DJI_MIC_2-00.analog-stereo", "DJI MIC 2", uint16_t{0x2CA3}};

inline std::string eventText(const CameraEvent& event) {
    switch (event.kind()) {
        case CameraEvent::Kind::status:
            return "status: " + event.get<CameraEvent::Status>()->text;
        case CameraEvent::Kind::failed:
            return "failed: " + event.get<CameraEvent::Failed>()->message;
        case CameraEvent::Kind::devicesChanged:
            return "devicesChanged";
        case CameraEvent::Kind::stopped:
            return "stopped";
        case CameraEvent::Kind::cameraOff:
            return "cameraOff";
        case CameraEvent::Kind::stats:
            return "stats";
        case CameraEvent::Kind::battery:
            return "battery";
        default:
            return "other";
    }
}

class UsbCameraRig {
public:
    ManualExecutor executor;
    FakeV4l2Device device{executor.clock()};
    FakeUsbSysfs sysfs;
    V4l2VideoDeviceSource video{device, sysfs.layout(), executor.clock()};
    SysfsUsbBus bus{device, sysfs.layout()};
    FakeAudioSourceBackend audio;
    FakeDeviceMonitor monitor;
    FakeBleRadio radio{executor};
    SimPocketBle pocket{executor, pocketConfig()};
    LogCapture log;

    std::vector<CameraEvent> events;
    std::vector<std::string> sequence;  // event texts and "completion", in arrival order
    std::unique_ptr<USBCamera> camera;

    UsbCameraRig() {
        FakeUsbSysfs::Device usb;
        sysfs.addDevice(usb);
        sysfs.addVideoNode(usb.name, 0, 0, "Osmo Pocket 3");
        device.setFormats(cheapFormats());
        audio.setSources({kBuiltInMic, kPocketAudio});
        audio.setDefaultSourceId(kBuiltInMic.id);
        radio.add(pocket);
    }

    ~UsbCameraRig() {
        camera.reset();
        executor.runUntilIdle();
    }

    static SimPocketBle::Config pocketConfig() {
        SimPocketBle::Config config;
        config.pairedIdentifiers = {kPairingIdentifier};
        return config;
    }

    // NV12 only, so frames cost a copy; default 1920x1080 at 60.
    static std::vector<FakeV4l2Device::Format> cheapFormats() {
        using F = FakeV4l2Device::Fraction;
        return {
            {V4L2_PIX_FMT_NV12, "Y/UV 4:2:0", {{1920, 1080, {F{1, 60}, F{1, 30}}, {}}, {1280, 720, {F{1, 30}}, {}}}},
            {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{1920, 1080, {F{1, 30}}, {}}, {1080, 1920, {F{1, 30}}, {}}}},
        };
    }

    USBCameraServices services() {
        return USBCameraServices{.main = executor,
                                 .video = video,
                                 .usb = bus,
                                 .audio = audio,
                                 .clock = executor.clock(),
                                 .deviceMonitor = &monitor,
                                 .bluetoothCentral = radio.factory(),
                                 .captureQueue = &executor,
                                 .controlQueue = &executor,
                                 .audioQueue = &executor};
    }

    USBCamera& make(std::optional<std::string> identifier = std::string(kPairingIdentifier)) {
        camera = std::make_unique<USBCamera>(services(), std::move(identifier));
        camera->setOnEvent([this](const CameraEvent& event) {
            events.push_back(event);
            sequence.push_back(eventText(event));
        });
        camera->setOnVideoSample([this](const VideoFrame& frame) {
            std::lock_guard lock(frameMutex_);
            frames_.push_back(frame);
            frameArrived_.notify_all();
        });
        camera->setOnAudioSample([this](const AudioChunk& chunk) { chunks.push_back(chunk); });
        return *camera;
    }

    // Builds, starts and lets the open sequence run.
    USBCamera& open(std::optional<std::string> identifier = std::string(kPairingIdentifier)) {
        make(std::move(identifier)).start();
        executor.runUntilIdle();
        return *camera;
    }

    // Moves virtual time on in 50 ms steps until `done` holds or `limit`
    // has passed.
    bool advanceUntil(const std::function<bool()>& done, Duration limit) {
        for (Duration spent{}; spent < limit; spent += std::chrono::milliseconds(50)) {
            executor.runUntilIdle();
            if (done()) return true;
            executor.advance(std::chrono::milliseconds(50));
        }
        return done();
    }

    // The next frame from the device, through the camera to its handler.
    bool deliverFrame() {
        size_t before = frameCount();
        if (!device.produceFrame()) return false;
        std::unique_lock lock(frameMutex_);
        return frameArrived_.wait_for(lock, std::chrono::seconds(10), [&] { return frames_.size() > before; });
    }

    size_t frameCount() {
        std::lock_guard lock(frameMutex_);
        return frames_.size();
    }
    VideoFrame lastFrame() {
        std::lock_guard lock(frameMutex_);
        return frames_.empty() ? VideoFrame{} : frames_.back();
    }

    std::vector<std::string> eventTexts() const {
        std::vector<std::string> texts;
        for (const CameraEvent& event : events) texts.push_back(eventText(event));
        return texts;
    }
    int count(CameraEvent::Kind kind) const {
        int n = 0;
        for (const CameraEvent& event : events) n += event.kind() == kind ? 1 : 0;
        return n;
    }
    std::vector<CameraStats> stats() const {
        std::vector<CameraStats> all;
        for (const CameraEvent& event : events) {
            if (const auto* s = event.get<CameraStats>()) all.push_back(*s);
        }
        return all;
    }
    size_t logCount(std::string_view needle) const {
        size_t n = 0;
        for (const std::string& line : log.lines()) n += line.find(needle) != std::string::npos ? 1 : 0;
        return n;
    }

    // The control values each S_EXT_CTRLS call set, in order.
    std::vector<std::vector<V4l2ControlValue>> controlWrites() const {
        std::vector<std::vector<V4l2ControlValue>> writes;
        for (const auto& call : device.calls()) {
            if (call.request == VIDIOC_S_EXT_CTRLS) writes.push_back(call.controls);
        }
        return writes;
    }

    std::vector<AudioChunk> chunks;

private:
    std::mutex frameMutex_;
    std::condition_variable frameArrived_;
    std::vector<VideoFrame> frames_;
};

inline std::vector<V4l2ControlValue> relativeMove(int pan, int tilt) {
    return {{V4L2_CID_PAN_SPEED, pan * 0x23}, {V4L2_CID_TILT_SPEED, tilt * 0x23}};
}

inline std::vector<V4l2ControlValue> absoluteMove(int64_t panArcseconds, int64_t tiltArcseconds) {
    return {{V4L2_CID_PAN_ABSOLUTE, panArcseconds}, {V4L2_CID_TILT_ABSOLUTE, tiltArcseconds}};
}

}  // namespace hollowkit::testsupport
