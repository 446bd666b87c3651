#include "lumenhollow/testing/fake_camera.h"

#include <array>
#include <cstdio>
#include <utility>

#include "hollowkit/camera/camera_setting.h"

namespace lumenhollow {

FakeCamera::FakeCamera(hollowkit::MainExecutor& main, Options options, std::string name,
                       std::shared_ptr<CameraJournal> journal)
    : main_(main),
      traits_(options.traits),
      name_(std::move(name)),
      journal_(std::move(journal)),
      gimbal_(main.clock()),
      options_(std::move(options)) {}

FakeCamera::~FakeCamera() {
    stopFrames();
    if (onDestroy_) onDestroy_(*this);
    if (journal_) journal_->add(name_ + " destroyed");
    // A route destroyed while stopping still reports the stop to its owner.
    if (pendingStopTask_ != 0) main_.cancel(pendingStopTask_);
    if (!pendingCompletions_.empty()) {
        main_.post([completions = std::move(pendingCompletions_)] {
            for (const auto& completion : completions) completion();
        });
    }
}

void FakeCamera::record(std::string command) {
    if (journal_) journal_->add(name_ + " " + command);
    std::lock_guard guard(mutex_);
    commands_.push_back(std::move(command));
}

std::vector<hollowkit::CameraSetting> FakeCamera::settings() const {
    std::lock_guard guard(mutex_);
    return settings_;
}

std::vector<std::string> FakeCamera::commands() const {
    std::lock_guard guard(mutex_);
    return commands_;
}

void FakeCamera::emit(hollowkit::CameraEvent event) {
    main_.post([this, alive = std::weak_ptr<bool>(alive_), event = std::move(event)] {
        if (alive.lock()) callOnEvent(event);
    });
}

void FakeCamera::deliverFrame(const hollowkit::VideoFrame& frame) const {
    callOnVideoSample(frame);
}

void FakeCamera::deliverAudio(const hollowkit::AudioChunk& chunk) const {
    callOnAudioSample(chunk);
}

void FakeCamera::startFrames(double framesPerSecond,
                             std::function<hollowkit::VideoFrame(uint64_t index)> makeFrame) {
    stopFrames();
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / framesPerSecond));
    frameThread_ = std::jthread([this, period, makeFrame = std::move(makeFrame)](std::stop_token stop) {
        auto next = std::chrono::steady_clock::now();
        for (uint64_t index = 0; !stop.stop_requested(); ++index) {
            deliverFrame(makeFrame(index));
            framesDelivered_.fetch_add(1);
            next += period;
            std::unique_lock lock(frameMutex_);
            // Paces the producer; a stop request wakes it at once.
            frameWake_.wait_until(lock, stop, next, [] { return false; });
        }
    });
}

void FakeCamera::stopFrames() {
    if (!frameThread_.joinable()) return;
    frameThread_.request_stop();
    frameThread_.join();
}

hollowkit::VideoFrame FakeCamera::makeFrame(int width, int height, hollowkit::TimePoint pts) {
    const size_t lumaBytes = static_cast<size_t>(width) * height;
    std::vector<uint8_t> pixels(lumaBytes + lumaBytes / 2 + width + height, 128);
    const std::array<hollowkit::PlaneView, 2> planes{
        hollowkit::PlaneView{pixels.data(), static_cast<size_t>(width)},
        hollowkit::PlaneView{pixels.data() + lumaBytes, static_cast<size_t>(width + width % 2)}};
    return hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::nv12, width, height, planes, pts);
}

void FakeCamera::finishStop() {
    if (pendingStopTask_ != 0) main_.cancel(pendingStopTask_);
    pendingStopTask_ = 0;
    completeStop(std::exchange(pendingCompletions_, {}));
}

void FakeCamera::completeStop(std::vector<std::function<void()>> completions) {
    main_.post([this, alive = std::weak_ptr<bool>(alive_), completions = std::move(completions)] {
        if (alive.lock()) callOnEvent(hollowkit::CameraEvent::stopped());
        for (const auto& completion : completions) completion();
    });
}

void FakeCamera::setZoomRange(std::optional<hollowkit::ZoomRange> range) {
    std::lock_guard guard(mutex_);
    options_.zoomRange = range;
}

void FakeCamera::setAudioLevel(std::optional<float> level) {
    std::lock_guard guard(mutex_);
    options_.audioLevel = level;
}

void FakeCamera::setDevices(std::vector<hollowkit::MicrophoneOption> microphones,
                            std::optional<hollowkit::MicrophoneOption> active,
                            std::vector<hollowkit::VideoFormatOption> formats,
                            std::optional<hollowkit::VideoFormatOption> activeFormat) {
    std::lock_guard guard(mutex_);
    options_.microphones = std::move(microphones);
    options_.activeMicrophone = std::move(active);
    options_.formats = std::move(formats);
    options_.activeFormat = activeFormat;
}

std::optional<hollowkit::ZoomRange> FakeCamera::zoomRange() const {
    std::lock_guard guard(mutex_);
    return options_.zoomRange;
}

std::vector<hollowkit::MicrophoneOption> FakeCamera::microphones() const {
    std::lock_guard guard(mutex_);
    return options_.microphones;
}

std::optional<hollowkit::MicrophoneOption> FakeCamera::activeMicrophone() const {
    std::lock_guard guard(mutex_);
    return options_.activeMicrophone;
}

std::optional<float> FakeCamera::audioLevel() const {
    std::lock_guard guard(mutex_);
    return options_.audioLevel;
}

std::vector<hollowkit::VideoFormatOption> FakeCamera::formats() const {
    std::lock_guard guard(mutex_);
    return options_.formats;
}

std::optional<hollowkit::VideoFormatOption> FakeCamera::activeFormat() const {
    std::lock_guard guard(mutex_);
    return options_.activeFormat;
}

void FakeCamera::start() {
    record("start");
}

void FakeCamera::stop(std::function<void()> completion) {
    record("stop");
    StopMode mode;
    hollowkit::Duration delay;
    {
        std::lock_guard guard(mutex_);
        mode = options_.stopMode;
        delay = options_.stopDelay;
    }
    if (completion) pendingCompletions_.push_back(std::move(completion));
    switch (mode) {
        case StopMode::immediate:
            finishStop();
            break;
        case StopMode::delayed:
            if (pendingStopTask_ == 0) {
                pendingStopTask_ = main_.after(delay, [this, alive = std::weak_ptr<bool>(alive_)] {
                    if (!alive.lock()) return;
                    pendingStopTask_ = 0;
                    finishStop();
                });
            }
            break;
        case StopMode::never:
            break;
    }
}

void FakeCamera::setPosition(std::optional<hollowkit::CameraPosition> position) {
    std::lock_guard guard(mutex_);
    options_.position = position;
}

void FakeCamera::setZoom(int zoomPercent) {
    record("setZoom " + std::to_string(zoomPercent));
}

std::optional<hollowkit::CameraPosition> FakeCamera::currentPosition() {
    record("currentPosition");
    std::lock_guard guard(mutex_);
    return traits_ == Traits::usbLike ? options_.position : std::nullopt;
}

void FakeCamera::move(const hollowkit::CameraPosition& to) {
    char text[96];
    std::snprintf(text, sizeof text, "move %.2f %.2f", to.pan, to.tilt);
    record(to.zoom ? std::string(text) + " " + std::to_string(*to.zoom) : std::string(text));
}

void FakeCamera::selectMicrophone(std::optional<std::string> id) {
    record("selectMicrophone " + id.value_or("automatic"));
}

void FakeCamera::selectFormat(const hollowkit::VideoFormatOption& format) {
    record("selectFormat " + format.id());
}

void FakeCamera::flipGimbal() {
    record("flipGimbal");
}

void FakeCamera::setCardRecording(bool startRecording) {
    record(startRecording ? "setCardRecording on" : "setCardRecording off");
}

void FakeCamera::applySetting(const hollowkit::CameraSetting& setting) {
    {
        std::lock_guard guard(mutex_);
        settings_.push_back(setting);
    }
    record("applySetting");
}

}  // namespace lumenhollow
