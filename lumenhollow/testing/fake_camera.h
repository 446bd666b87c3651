#pragma once

// FakeCamera: a PocketCamera for tests of the camera model. It behaves like
// the USB route or the wireless route in what it supports, reports the zoom
// range, position, microphones, formats and audio level the test gives it,
// and keeps a log of every command it receives ("start", "stop",
// "setZoom 250", ...). Events the test emits reach the handler through the
// main executor, as a real route's do. Frames are delivered either inline
// on the calling thread or by a thread of its own at a fixed rate.
//
// Stopping: immediate (the `stopped` event and the completion are posted at
// once), delayed (after `stopDelay` on the main executor's clock) or never
// (held until finishStop()). A camera destroyed with a stop pending still
// posts its completion, as the real routes do.
//
// Threads: construction, commands and emit on the main executor; frames
// from any thread; the log and the settings behind the properties are
// guarded, any thread.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/base/executor.h"
#include "hollowkit/camera/pocket_camera.h"

namespace lumenhollow {

// Lines of several fake cameras and their factory in one order ("usb#1
// start", "wireless#2 destroyed"). Any thread.
class CameraJournal {
public:
    void add(std::string line) {
        std::lock_guard guard(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> lines() const {
        std::lock_guard guard(mutex_);
        return lines_;
    }
    void clear() {
        std::lock_guard guard(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;  // guarded by mutex_
};

class FakeCamera final : public hollowkit::PocketCamera {
public:
    enum class Traits : uint8_t { usbLike, wirelessLike };
    enum class StopMode : uint8_t { immediate, delayed, never };

    struct Options {
        Traits traits = Traits::usbLike;
        std::optional<hollowkit::ZoomRange> zoomRange;
        std::optional<hollowkit::CameraPosition> position;
        std::vector<hollowkit::MicrophoneOption> microphones;
        std::optional<hollowkit::MicrophoneOption> activeMicrophone;
        std::optional<float> audioLevel;
        std::vector<hollowkit::VideoFormatOption> formats;
        std::optional<hollowkit::VideoFormatOption> activeFormat;
        StopMode stopMode = StopMode::immediate;
        hollowkit::Duration stopDelay = std::chrono::seconds(1);
    };

    // `main` must outlive the camera and what it posts. `name` prefixes its
    // lines in the shared `journal` when one is given ("usb#1 start").
    FakeCamera(hollowkit::MainExecutor& main, Options options, std::string name = "camera",
               std::shared_ptr<CameraJournal> journal = nullptr);
    ~FakeCamera() override;

    // --- Test side.
    // Delivers `event` through the main executor.
    void emit(hollowkit::CameraEvent event);
    // Calls the event handler at once, as a route does from the main executor.
    void emitNow(const hollowkit::CameraEvent& event) const { callOnEvent(event); }
    // Calls the video or sound handler on this thread.
    void deliverFrame(const hollowkit::VideoFrame& frame) const;
    void deliverAudio(const hollowkit::AudioChunk& chunk) const;
    // Delivers `makeFrame(index)` from a thread of its own, `framesPerSecond`
    // times a second, until stopFrames() or destruction.
    void startFrames(double framesPerSecond, std::function<hollowkit::VideoFrame(uint64_t index)> makeFrame);
    void stopFrames();
    uint64_t framesDelivered() const { return framesDelivered_.load(); }
    // Completes a stop held by StopMode::never (and any other pending one).
    void finishStop();
    // Called as the camera is destroyed (on the destroying thread), while it
    // can still use its handlers.
    void setOnDestroy(std::function<void(FakeCamera&)> onDestroy) { onDestroy_ = std::move(onDestroy); }

    void setZoomRange(std::optional<hollowkit::ZoomRange> range);
    void setAudioLevel(std::optional<float> level);
    // What currentPosition() reports from now on (a USB-like camera only).
    void setPosition(std::optional<hollowkit::CameraPosition> position);
    void setDevices(std::vector<hollowkit::MicrophoneOption> microphones,
                    std::optional<hollowkit::MicrophoneOption> active,
                    std::vector<hollowkit::VideoFormatOption> formats,
                    std::optional<hollowkit::VideoFormatOption> activeFormat);

    // Every command received, in order.
    std::vector<std::string> commands() const;
    // Every setting applied, in order.
    std::vector<hollowkit::CameraSetting> settings() const;
    const std::string& name() const { return name_; }

    // A small grey NV12 picture.
    static hollowkit::VideoFrame makeFrame(int width, int height, hollowkit::TimePoint pts = {});

    // --- PocketCamera.
    hollowkit::GimbalCommands& gimbal() override { return gimbal_; }
    std::optional<hollowkit::ZoomRange> zoomRange() const override;
    bool supportsPositioning() const override { return traits_ == Traits::usbLike; }
    bool supportsCardRecording() const override { return traits_ == Traits::wirelessLike; }
    bool supportsCameraSettings() const override { return traits_ == Traits::wirelessLike; }
    std::vector<hollowkit::MicrophoneOption> microphones() const override;
    std::optional<hollowkit::MicrophoneOption> activeMicrophone() const override;
    std::optional<float> audioLevel() const override;
    std::vector<hollowkit::VideoFormatOption> formats() const override;
    std::optional<hollowkit::VideoFormatOption> activeFormat() const override;

    void start() override;
    void stop(std::function<void()> completion) override;
    void setZoom(int zoomPercent) override;
    std::optional<hollowkit::CameraPosition> currentPosition() override;
    void move(const hollowkit::CameraPosition& to) override;
    void selectMicrophone(std::optional<std::string> id) override;
    void selectFormat(const hollowkit::VideoFormatOption& format) override;
    void flipGimbal() override;
    void setCardRecording(bool startRecording) override;
    void applySetting(const hollowkit::CameraSetting& setting) override;

private:
    void record(std::string command);
    void completeStop(std::vector<std::function<void()>> completions);

    hollowkit::MainExecutor& main_;
    const Traits traits_;
    const std::string name_;
    const std::shared_ptr<CameraJournal> journal_;
    hollowkit::GimbalCommands gimbal_;
    std::function<void(FakeCamera&)> onDestroy_;
    // Tasks posted by the camera check it still exists through this.
    const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    mutable std::mutex mutex_;
    Options options_;                                        // guarded by mutex_
    std::vector<std::string> commands_;                      // guarded by mutex_
    std::vector<hollowkit::CameraSetting> settings_;         // guarded by mutex_
    std::vector<std::function<void()>> pendingCompletions_;  // main executor only
    hollowkit::TaskId pendingStopTask_ = 0;                  // main executor only

    std::atomic<uint64_t> framesDelivered_{0};
    std::mutex frameMutex_;
    std::condition_variable_any frameWake_;
    std::jthread frameThread_;  // last: joined before the fields above go
};

}  // namespace lumenhollow
