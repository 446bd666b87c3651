#pragma once

// SceneCamera: a PocketCamera that films a ScenePanorama through a
// VirtualLens on a simulated gimbal, for closed-loop tests (face following,
// scenes, gimbal input) and as the demonstration camera. It plays the route
// and the camera in one:
//
// - USB-like: each moving axis turns at the relative-move speed whatever the
//   size of the request (kUsbDegreesPerSecond), positions can be read and
//   set, two formats are offered, told with `devicesChanged` at start and
//   after a change of format, and a microphone sounds a tone (kToneHz,
//   swelling and fading every kSwellPeriod so its level moves) from a
//   thread of its own, in chunks of kSoundChunk stamped with the main
//   executor's clock as the frames are (CLOCK_MONOTONIC in the application).
// - Wireless-like: pan and tilt turn at kWirelessDegreesPerSecondPerUnit
//   times the requested speed, positions cannot be read or set, no sound;
//   card recording is reported back as the camera would.
// Both: speeds are read from gimbal() and end after its hold limit, a
// recentre request goes back to pan 0, tilt 0, zoom changes at once, and
// pan and tilt stay within the lens limits. Motion is integrated over the
// main executor's clock, so a ManualClock makes it exact. The mailbox is
// sampled with each frame and each pose or position read, as the routes
// sample it on a timer: a speed counts from the previous sample (or the start
// of its motion), and one set and cleared between two samples never turns it.
//
// Frames (NV12, the format's size) and statistics every 2 s come from a
// thread of its own at the format's rate between start() and stop(), the
// sound from another; with `pacedFrames` off, only from deliverFrameNow()
// and deliverSoundNow() on the caller's thread. Events are posted to the
// main executor. Thread-safe: one mutex guards the gimbal and sound state
// and is never held while a handler runs.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/camera/pocket_camera.h"
#include "hollowkit/simulation/scene_panorama.h"
#include "hollowkit/simulation/virtual_lens.h"

namespace hollowkit {

class SceneCamera final : public PocketCamera {
public:
    enum class Route : uint8_t { usb, wireless };

    // The relative move's speed byte (35) at 1000 arc-seconds a second per
    // unit, as the simulated V4L2 device turns: about 9.7 degrees a second.
    static constexpr double kUsbDegreesPerSecond = 35 * 1000.0 / 3600.0;
    // As the simulated Wi-Fi camera turns: full speed (550) is 55 degrees a
    // second.
    static constexpr double kWirelessDegreesPerSecondPerUnit = 0.1;
    static constexpr Duration kStatisticsPeriod = std::chrono::seconds(2);
    static constexpr int kToneHz = 440;
    static constexpr int kToneSampleRate = 48000;
    // The tone's loudest; it swells from kSwellFloor of that and back.
    static constexpr float kToneAmplitude = 0.1F;
    static constexpr float kSwellFloor = 0.1F;
    static constexpr Duration kSwellPeriod = std::chrono::seconds(2);
    // How often the sound thread delivers, and the most it catches up after
    // a stall (older sound is left out, as a capture overrun loses it).
    static constexpr Duration kSoundChunk = std::chrono::milliseconds(20);
    static constexpr Duration kMaxSoundBacklog = std::chrono::milliseconds(250);

    struct Options {
        Route route = Route::usb;
        // Picture size and frame rate; on the USB route one of formats().
        VideoFormatOption format{1920, 1080, 30};
        // Off: frames only through deliverFrameNow(), sound only through
        // deliverSoundNow().
        bool pacedFrames = true;
        // How fast move() and recentring turn; 0: they arrive at once.
        double moveDegreesPerSecond = 0;
        LensLimits limits;
        LensPose start;
        // The USB route's microphone and its tone.
        bool tone = true;
        // Off: the tone holds half its swell, so a level meter stands still
        // (pictures that must not change between two takes).
        bool swellingTone = true;
        // Off: a camera that hangs while stopping; stop() ends the frames
        // but never reports `stopped` nor calls its completion.
        bool stopCompletes = true;
    };

    // `main` must outlive the camera; `scene` must not be null.
    SceneCamera(Executor& main, std::shared_ptr<const ScenePanorama> scene, Options options);
    SceneCamera(Executor& main, std::shared_ptr<const ScenePanorama> scene)
        : SceneCamera(main, std::move(scene), Options{}) {}
    ~SceneCamera() override;

    // --- Test side; any thread.
    // Where the lens points now (motion integrated up to the clock's now).
    LensPose pose();
    // Puts the lens there at once (clamped), ending any move.
    void setPose(const LensPose& pose);
    // The picture at the current pose, not delivered.
    VideoFrame renderFrame();
    // Renders and delivers one frame, and the statistics when due, on the
    // calling thread.
    void deliverFrameNow();
    // Delivers the tone from where the last chunk ended (or the start) up to
    // the clock's now, at most kMaxSoundBacklog of it, on the calling thread.
    void deliverSoundNow();
    // Off: the camera keeps running but its picture stops, as a sensor or
    // link that drops out does; the statistics then report no picture. On
    // again: the frames resume.
    void setPictureFlowing(bool flowing) { pictureFlowing_.store(flowing); }
    uint64_t framesDelivered() const { return framesDelivered_.load(); }
    const VirtualLens& lens() const { return lens_; }

    // --- PocketCamera.
    GimbalCommands& gimbal() override { return gimbal_; }
    std::optional<ZoomRange> zoomRange() const override { return lens_.limits().zoom; }
    bool supportsPositioning() const override { return route_ == Route::usb; }
    bool supportsCardRecording() const override { return route_ == Route::wireless; }
    bool supportsCameraSettings() const override { return route_ == Route::wireless; }
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
    void selectMicrophone(std::optional<std::string>) override {}
    void selectFormat(const VideoFormatOption& format) override;
    void flipGimbal() override;
    void setCardRecording(bool startRecording) override;
    void applySetting(const CameraSetting&) override {}

private:
    // Integrates speeds and moves up to `now`.
    void advance(TimePoint now) HK_REQUIRES(mutex_);
    // Without a move speed, a move or flip arrives as it is asked.
    void landAtOnce() HK_REQUIRES(mutex_);
    bool sounds() const { return route_ == Route::usb && tone_; }
    void startThreads();
    void stopThreads();
    // `frames` frames of the tone from its sample `first` on.
    static AudioChunk toneChunk(uint64_t first, size_t frames, TimePoint pts, bool swelling);

    Executor& main_;
    const Clock& clock_;
    const std::shared_ptr<const ScenePanorama> scene_;
    const Route route_;
    const bool pacedFrames_;
    const bool tone_;
    const bool swellingTone_;
    const bool stopCompletes_;
    const double moveDegreesPerSecond_;
    const VirtualLens lens_;
    GimbalCommands gimbal_;

    mutable Mutex mutex_;
    LensPose pose_ HK_GUARDED_BY(mutex_);
    // Where move() or a recentre turns to; pan and tilt only.
    std::optional<CameraPosition> target_ HK_GUARDED_BY(mutex_);
    TimePoint advancedTo_ HK_GUARDED_BY(mutex_);
    VideoFormatOption format_ HK_GUARDED_BY(mutex_);
    // Statistics: frames since the last report and when it was.
    uint64_t framesSinceStats_ HK_GUARDED_BY(mutex_) = 0;
    TimePoint lastStats_ HK_GUARDED_BY(mutex_);
    // The sound: frames delivered since soundOrigin_, and since the
    // beginning (the tone's phase, unbroken by a skip).
    TimePoint soundOrigin_ HK_GUARDED_BY(mutex_);
    uint64_t soundFrames_ HK_GUARDED_BY(mutex_) = 0;
    uint64_t toneFrames_ HK_GUARDED_BY(mutex_) = 0;

    std::atomic<uint64_t> framesDelivered_{0};
    std::atomic<bool> pictureFlowing_{true};
    // The last chunk's mean power in dB; NaN before the first.
    std::atomic<float> levelDb_;
    std::mutex pacingMutex_;
    std::condition_variable_any pacingWake_;
    // Last: joined before the fields above go.
    std::jthread frameThread_;
    std::jthread soundThread_;
};

}  // namespace hollowkit
