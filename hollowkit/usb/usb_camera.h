#pragma once

// USBCamera: the USB-C route of PocketCamera. Plugged in by USB-C in its
// webcam mode the camera is a USB video-class device with sound. This class
// finds it among the capture devices, opens it in its default format, hands
// every frame and every sound chunk to the owner's handlers, drives the
// gimbal and zoom through the camera terminal's UVC controls (a 50 ms
// gimbal tick, statistics every 2 s), chooses the microphone (a DJI Mic
// first, then the camera's own sound, then the system default, or the
// user's pick), and keeps a Bluetooth LE status link for the battery level.
//
// Owner: the camera model, one object per USB connection: construct, set
// the handlers, start() once, stop() last, destroy after the completion.
// Every platform service comes in through USBCameraServices, so tests run
// the whole route against fakes.
//
// Threads: start, stop and the property reads of the model on the main
// executor; the open sequence, format choice, microphone choice and the
// stop's last stage on "HollowKit.USBCapture"; every UVC request and both
// timers on "HollowKit.USBControl"; sound analysis and the sound handler on
// "HollowKit.USBAudio"; frames and the video handler on the capture
// device's stream thread. Events reach the owner on the main executor in
// emission order. The camera never fails an operation: trouble is a
// `failed` event (or `cameraOff` when the camera goes away mid-stream).
//
// Destruction is a full teardown: device watching stopped, queues joined
// (work not yet started is dropped), streams closed; a stop whose
// completion had not run yet gets it on the main executor.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/camera/pocket_camera.h"
#include "hollowkit/usb/audio_source_backend.h"
#include "hollowkit/usb/device_monitor.h"
#include "hollowkit/usb/usb_device.h"
#include "hollowkit/usb/uvc_camera_controls.h"
#include "hollowkit/usb/video_device.h"
#include "hollowkit/usb/wireless_mic_detector.h"
#include "hollowkit/wireless/ble_central.h"
#include "hollowkit/wireless/pocket_bluetooth_link.h"

namespace hollowkit {

// Everything the USB camera uses from outside. The referenced services must
// outlive every camera built with them; the camera model keeps one set for
// all its USB connections (linux/usb_camera_system.h builds the Linux one).
struct USBCameraServices {
    // "The main queue": events, the Bluetooth link.
    MainExecutor& main;
    // The external capture devices (V4L2).
    VideoDeviceSource& video;
    // The USB devices, for the camera terminal's controls.
    UsbBus& usb;
    // The sound sources (the sound server).
    AudioSourceBackend& audio;
    // Time of the statistics and the gimbal hold limit.
    const Clock& clock = Clock::system();
    // Tells of sound devices coming and going; none: no re-choice of the
    // microphone on plugging.
    DeviceMonitor* deviceMonitor = nullptr;
    // Makes the Bluetooth central of the battery link; none: the link is
    // made but never started.
    BleCentralFactory bluetoothCentral = nullptr;
    // Tests only: executors standing in for the camera's three queues (a
    // ManualExecutor each, or one for all), run on the thread that destroys
    // the camera. Null: the camera makes its own SerialQueue.
    Executor* captureQueue = nullptr;
    Executor* controlQueue = nullptr;
    Executor* audioQueue = nullptr;
};

class USBCamera final : public PocketCamera {
public:
    static constexpr Duration kGimbalTickPeriod = std::chrono::milliseconds(50);
    static constexpr Duration kStatisticsPeriod = std::chrono::seconds(2);
    // Sound blocks allowed to wait for the audio queue; more are dropped.
    static constexpr int kMaxPendingAudioBlocks = 64;

    // Builds the camera; touches no device. With a pairing identifier the
    // Bluetooth status link is made (telemetry only, no Wi-Fi wake); it
    // starts with start(). Main executor.
    USBCamera(USBCameraServices services, std::optional<std::string> pairingIdentifier);
    ~USBCamera() override;

    // Whether the camera is on USB now: a fresh look at the bus's listing
    // every call (isPocketOnBus); opens no device, so it stays cheap enough
    // to poll. Any thread.
    static bool isPocketConnected(UsbBus& bus);
    // The same on the system's bus (sysfs).
    static bool isPocketConnected();

    // PocketCamera
    GimbalCommands& gimbal() override { return gimbal_; }
    std::optional<ZoomRange> zoomRange() const override;
    bool supportsPositioning() const override { return true; }
    bool supportsCardRecording() const override { return false; }
    bool supportsCameraSettings() const override { return false; }
    std::vector<MicrophoneOption> microphones() const override;
    std::optional<MicrophoneOption> activeMicrophone() const override;
    std::optional<float> audioLevel() const override;
    std::vector<VideoFormatOption> formats() const override;
    std::optional<VideoFormatOption> activeFormat() const override;

    void start() override;
    void stop(std::function<void()> completion) override;
    void setZoom(int zoomPercent) override;
    std::optional<CameraPosition> currentPosition() override;
    void move(const CameraPosition& to) override;
    void selectMicrophone(std::optional<std::string> id) override;
    void selectFormat(const VideoFormatOption& format) override;
    void flipGimbal() override;
    void setCardRecording(bool) override {}
    void applySetting(const CameraSetting&) override {}

    // The status link, when there is one. Main executor.
    PocketBluetoothLink* bluetoothLink() { return bluetooth_.get(); }

private:
    struct Direction {
        int pan = 0;
        int tilt = 0;
        bool operator==(const Direction&) const = default;
    };
    class CompletionOnce;

    // Runs `step` on `queue` unless the camera is being destroyed; false
    // when it was dropped.
    bool enqueue(Executor& queue, std::function<void(USBCamera&)> step);
    void emit(CameraEvent event);

    // Main executor.
    void observeDevices();
    void handleBluetoothEvent(const PocketBluetoothLink::Event& event);
    void finishStop(const std::shared_ptr<CompletionOnce>& completion);

    // Capture queue.
    void configureSession();
    void selectFormat(const VideoFormatOption& option, VideoCaptureDevice& device);
    void videoStreamEnded(const VideoDeviceError& error);
    void stopCapture();
    void chooseMicrophone();
    void attachMicrophone(const std::optional<AudioSourceInfo>& device);
    void publishMicrophones(const std::vector<AudioSourceInfo>& devices);
    MicrophoneOption microphoneOption(const AudioSourceInfo& device) const;
    void setHearsWirelessMic(bool hears, uint64_t generation);
    void audioCaptureFailed(uint64_t generation, const std::string& why);
    std::vector<AudioSourceInfo> permittedAudioDevices();

    // Control queue.
    void openControls();
    void startTimers();
    void gimbalTick();
    void reportStatistics();
    std::optional<CameraPosition> readPosition();

    // Stream thread, sound backend thread, monitor thread.
    void handleVideoFrame(const VideoFrame& frame);
    void deliverAudio(PcmBlock block, uint64_t generation);
    void audioDeviceChanged(const DeviceChange& change);

    // Audio queue.
    void handleAudio(const PcmBlock& block, uint64_t generation);

    USBCameraServices services_;
    GimbalCommands gimbal_;
    // False once destruction began: steps left on the main executor (and on
    // test executors) do nothing then.
    const std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);

    std::unique_ptr<SerialQueue> ownCaptureQueue_;
    std::unique_ptr<SerialQueue> ownControlQueue_;
    std::unique_ptr<SerialQueue> ownAudioQueue_;
    Executor& captureQueue_;
    Executor& controlQueue_;
    Executor& audioQueue_;
    Mutex queueLock_;
    bool closing_ HK_GUARDED_BY(queueLock_) = false;

    // Main executor only.
    std::unique_ptr<PocketBluetoothLink> bluetooth_;
    DeviceMonitor::Subscription deviceSubscription_;

    // Capture queue only (and the destructor, after the queues are gone).
    std::unique_ptr<VideoCaptureDevice> videoDevice_;
    std::unique_ptr<AudioSourceCapture> audioCapture_;
    std::optional<AudioSourceInfo> audioInput_;
    uint64_t audioGeneration_ = 0;  // bumps with every change of the sound input
    bool audioPermitted_ = false;
    std::optional<std::string> manualMicrophoneId_;
    bool hearsWirelessMic_ = false;

    // Audio queue only.
    std::optional<WirelessMicDetector> micDetector_;
    uint64_t detectorGeneration_ = 0;

    // Control queue only.
    std::unique_ptr<UVCCameraControls> controls_;
    Direction lastDirection_;
    // A relative move that failed is tried again on a later tick (at once
    // at first, then once a second), so a lost stop cannot leave the
    // gimbal turning.
    std::optional<Direction> failedDirection_;
    int failedAttempts_ = 0;
    uint64_t ticks_ = 0;
    uint64_t retryTick_ = 0;
    TimePoint lastStats_;

    // Read by the application on any thread, written on the queues.
    mutable Mutex stateLock_;
    std::vector<VideoFormatOption> formats_ HK_GUARDED_BY(stateLock_);
    std::optional<VideoFormatOption> activeFormat_ HK_GUARDED_BY(stateLock_);
    std::vector<MicrophoneOption> microphones_ HK_GUARDED_BY(stateLock_);
    std::optional<MicrophoneOption> activeMicrophone_ HK_GUARDED_BY(stateLock_);
    bool hasAudioInput_ HK_GUARDED_BY(stateLock_) = false;
    std::optional<ZoomRange> zoomRange_ HK_GUARDED_BY(stateLock_);
    std::optional<VideoDimensions> dimensions_ HK_GUARDED_BY(stateLock_);
    TaskId gimbalTimer_ HK_GUARDED_BY(stateLock_) = 0;
    TaskId statsTimer_ HK_GUARDED_BY(stateLock_) = 0;
    bool stopRequested_ HK_GUARDED_BY(stateLock_) = false;

    Mutex frameLock_;
    int64_t framesSinceStats_ HK_GUARDED_BY(frameLock_) = 0;

    std::atomic<float> audioLevelDb_;  // NaN: nothing measured yet
    std::atomic<uint64_t> currentAudioGeneration_{0};
    std::atomic<int> pendingAudioBlocks_{0};

    Mutex stopLock_;
    std::vector<std::shared_ptr<CompletionOnce>> pendingStops_ HK_GUARDED_BY(stopLock_);
};

}  // namespace hollowkit
