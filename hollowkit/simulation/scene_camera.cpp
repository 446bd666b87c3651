#include "hollowkit/simulation/scene_camera.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <span>
#include <utility>
#include <vector>

#include "hollowkit/base/thread_name.h"

namespace hollowkit {

namespace {

double sign(int value) { return value > 0 ? 1.0 : value < 0 ? -1.0 : 0.0; }

double approach(double from, double to, double maxStep) {
    if (std::abs(to - from) <= maxStep) return to;
    return from + std::clamp(to - from, -maxStep, maxStep);
}

double wrapDegrees(double degrees) {
    const double wrapped = std::fmod(degrees + 180.0, 360.0);
    return (wrapped < 0 ? wrapped + 360.0 : wrapped) - 180.0;
}

// Frames of sound at the tone's rate in `span`, rounded down; whole seconds
// apart, so the count stays exact however long the camera runs.
uint64_t soundFramesIn(Duration span) {
    if (span <= Duration::zero()) return 0;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span);
    const auto rest = std::chrono::duration_cast<std::chrono::nanoseconds>(span - seconds);
    constexpr uint64_t kRate = SceneCamera::kToneSampleRate;
    return static_cast<uint64_t>(seconds.count()) * kRate + static_cast<uint64_t>(rest.count()) * kRate / 1'000'000'000;
}

// When the frame `frames` after the start sounds.
Duration soundDuration(uint64_t frames) {
    constexpr uint64_t kRate = SceneCamera::kToneSampleRate;
    const std::chrono::nanoseconds rest((frames % kRate) * 1'000'000'000 / kRate);
    return std::chrono::duration_cast<Duration>(std::chrono::seconds(frames / kRate) + rest);
}

// The mean power of the samples in dB, as a capture's level meter reads it.
float meanPowerDb(std::span<const float> samples) {
    if (samples.empty()) return std::numeric_limits<float>::quiet_NaN();
    double sum = 0;
    for (float sample : samples) sum += static_cast<double>(sample) * sample;
    return static_cast<float>(10 * std::log10(std::max(sum / static_cast<double>(samples.size()), 1e-10)));
}

const MicrophoneOption& toneMicrophone() {
    // Plugged into the camera, not heard through it: no "via".
    static const MicrophoneOption option{"scene-camera-tone", "Demo Camera Microphone", std::nullopt};
    return option;
}

}  // namespace

SceneCamera::SceneCamera(Executor& main, std::shared_ptr<const ScenePanorama> scene, Options options)
    : main_(main),
      clock_(main.clock()),
      scene_(std::move(scene)),
      route_(options.route),
      pacedFrames_(options.pacedFrames),
      tone_(options.tone),
      swellingTone_(options.swellingTone),
      stopCompletes_(options.stopCompletes),
      moveDegreesPerSecond_(options.moveDegreesPerSecond),
      lens_(scene_->lens(options.limits)),
      gimbal_(main.clock()),
      pose_(options.limits.clamp(options.start)),
      advancedTo_(clock_.now()),
      format_(options.format),
      lastStats_(advancedTo_),
      soundOrigin_(advancedTo_),
      levelDb_(std::numeric_limits<float>::quiet_NaN()) {}

SceneCamera::~SceneCamera() { stopThreads(); }

void SceneCamera::advance(TimePoint now) {
    if (now <= advancedTo_) return;
    if (gimbal_.takeRecenterRequest()) target_ = CameraPosition{0, 0, std::nullopt};

    // The mailbox is sampled here, as the routes sample it on their timers:
    // the speed read counts from the later of the previous sample and the
    // start of its motion, until the mailbox's hold limit ends it.
    const GimbalVelocity velocity = gimbal_.storedVelocity().clamped();
    const std::optional<TimePoint> started = gimbal_.moveStarted();
    TimePoint turnFrom = now;
    TimePoint turnTo = now;
    if (started && !velocity.isZero()) {
        turnFrom = std::max(advancedTo_, *started);
        turnTo = std::min(now, *started + GimbalCommands::holdLimit);
    }
    const bool turning = turnTo > turnFrom;

    // A move under way goes on until a turn begins, which replaces it (a
    // relative move overrides an absolute one on the camera too).
    if (target_) {
        const double slewSeconds = std::chrono::duration<double>((turning ? turnFrom : now) - advancedTo_).count();
        const double step = moveDegreesPerSecond_ > 0 ? moveDegreesPerSecond_ * slewSeconds : 1e9;
        pose_.panDegrees = approach(pose_.panDegrees, target_->pan, step);
        pose_.tiltDegrees = approach(pose_.tiltDegrees, target_->tilt, step);
        if (turning || (pose_.panDegrees == target_->pan && pose_.tiltDegrees == target_->tilt)) target_.reset();
    }
    if (turning) {
        const double turned = std::chrono::duration<double>(turnTo - turnFrom).count();
        // The USB route sends only the direction; the camera turns at its
        // fixed relative speed.
        const double panRate = route_ == Route::usb ? sign(velocity.yaw) * kUsbDegreesPerSecond
                                                    : velocity.yaw * kWirelessDegreesPerSecondPerUnit;
        const double tiltRate = route_ == Route::usb ? sign(velocity.pitch) * kUsbDegreesPerSecond
                                                     : velocity.pitch * kWirelessDegreesPerSecondPerUnit;
        pose_.panDegrees += panRate * turned;
        pose_.tiltDegrees += tiltRate * turned;
    }
    pose_ = lens_.limits().clamp(pose_);
    advancedTo_ = now;
}

void SceneCamera::landAtOnce() {
    if (moveDegreesPerSecond_ > 0 || !target_) return;
    pose_.panDegrees = target_->pan;
    pose_.tiltDegrees = target_->tilt;
    target_.reset();
}

LensPose SceneCamera::pose() {
    MutexLock lock(mutex_);
    advance(clock_.now());
    return pose_;
}

void SceneCamera::setPose(const LensPose& pose) {
    MutexLock lock(mutex_);
    advance(clock_.now());
    pose_ = lens_.limits().clamp(pose);
    target_.reset();
}

VideoFrame SceneCamera::renderFrame() {
    const TimePoint now = clock_.now();
    LensPose pose;
    VideoFormatOption format;
    {
        MutexLock lock(mutex_);
        advance(now);
        pose = pose_;
        format = format_;
    }
    return scene_->render(lens_.window(pose, format.width, format.height), format.width, format.height, now);
}

void SceneCamera::deliverFrameNow() {
    const TimePoint now = clock_.now();
    const bool flowing = pictureFlowing_.load();
    LensPose pose;
    VideoFormatOption format;
    std::optional<CameraStats> stats;
    {
        MutexLock lock(mutex_);
        advance(now);
        pose = pose_;
        format = format_;
        if (flowing) ++framesSinceStats_;
        if (now - lastStats_ >= kStatisticsPeriod) {
            const double elapsed = std::chrono::duration<double>(now - lastStats_).count();
            stats = CameraStats{framesSinceStats_ > 0,
                                static_cast<double>(framesSinceStats_) / elapsed,
                                true,
                                GimbalAttitude{pose.tiltDegrees, 0, pose.panDegrees},
                                VideoDimensions{format.width, format.height},
                                std::nullopt};
            framesSinceStats_ = 0;
            lastStats_ = now;
        }
    }
    if (flowing) {
        const VideoFrame frame =
            scene_->render(lens_.window(pose, format.width, format.height), format.width, format.height, now);
        callOnVideoSample(frame);
        framesDelivered_.fetch_add(1);
    }
    if (stats) postEvent(main_, CameraEvent::stats(*stats));
}

void SceneCamera::deliverSoundNow() {
    if (!sounds()) return;
    const TimePoint now = clock_.now();
    uint64_t first;
    uint64_t frames;
    TimePoint pts;
    {
        MutexLock lock(mutex_);
        const uint64_t due = soundFramesIn(now - soundOrigin_);
        const uint64_t backlog = soundFramesIn(kMaxSoundBacklog);
        // A stalled thread leaves a gap rather than delivering a burst.
        if (due > soundFrames_ + backlog) soundFrames_ = due - backlog;
        if (due <= soundFrames_) return;
        frames = due - soundFrames_;
        // From the frame count, not added chunk by chunk: no drift in the stamps.
        pts = soundOrigin_ + soundDuration(soundFrames_);
        soundFrames_ = due;
        first = toneFrames_;
        toneFrames_ += frames;
    }
    const AudioChunk chunk = toneChunk(first, static_cast<size_t>(frames), pts, swellingTone_);
    levelDb_.store(meanPowerDb(chunk.f32()));
    callOnAudioSample(chunk);
}

AudioChunk SceneCamera::toneChunk(uint64_t first, size_t frames, TimePoint pts, bool swelling) {
    constexpr double kTwoPi = 2 * std::numbers::pi;
    const uint64_t swellFrames = soundFramesIn(kSwellPeriod);
    WritableAudioChunk chunk = WritableAudioChunk::allocate(SampleFormat::f32, kToneSampleRate, 2, frames);
    std::span<float> samples = chunk.f32();
    for (size_t i = 0; i < frames; ++i) {
        // A whole number of periods fits in a second and in a swell, so the
        // phases are taken modulo those and stay exact however long it runs.
        const uint64_t n = first + i;
        const double tone = std::sin(kTwoPi * kToneHz * static_cast<double>(n % kToneSampleRate) / kToneSampleRate);
        const double phase = swelling ? static_cast<double>(n % swellFrames) / static_cast<double>(swellFrames) : 0.25;
        const double swell = kSwellFloor + (1 - kSwellFloor) * 0.5 * (1 - std::cos(kTwoPi * phase));
        const auto value = static_cast<float>(kToneAmplitude * swell * tone);
        samples[2 * i] = value;
        samples[2 * i + 1] = value;
    }
    return std::move(chunk).freeze(pts);
}

std::vector<MicrophoneOption> SceneCamera::microphones() const {
    if (!sounds()) return {};
    return {toneMicrophone()};
}

std::optional<MicrophoneOption> SceneCamera::activeMicrophone() const {
    if (!sounds()) return std::nullopt;
    return toneMicrophone();
}

std::optional<float> SceneCamera::audioLevel() const {
    if (!sounds()) return std::nullopt;
    const float level = levelDb_.load();
    if (std::isnan(level)) return std::nullopt;
    return level;
}

std::vector<VideoFormatOption> SceneCamera::formats() const {
    if (route_ != Route::usb) return {};
    std::vector<VideoFormatOption> offered{{1920, 1080, 30}, {1280, 720, 30}};
    MutexLock lock(mutex_);
    if (std::find(offered.begin(), offered.end(), format_) == offered.end()) offered.insert(offered.begin(), format_);
    return offered;
}

std::optional<VideoFormatOption> SceneCamera::activeFormat() const {
    if (route_ != Route::usb) return std::nullopt;
    MutexLock lock(mutex_);
    return format_;
}

void SceneCamera::start() {
    {
        MutexLock lock(mutex_);
        soundOrigin_ = clock_.now();
        soundFrames_ = 0;
    }
    // The formats and the microphone are known from the start: the model
    // learns them only from this event, as from the USB camera's.
    if (route_ == Route::usb) postEvent(main_, CameraEvent::devicesChanged());
    if (pacedFrames_) startThreads();
}

void SceneCamera::stop(std::function<void()> completion) {
    stopThreads();
    if (!stopCompletes_) return;
    postEvent(main_, CameraEvent::stopped());
    // Posted after the event, so the owner sees `stopped` first; it runs even
    // when the camera is gone by then.
    if (completion) main_.post(std::move(completion));
}

void SceneCamera::setZoom(int zoomPercent) {
    MutexLock lock(mutex_);
    advance(clock_.now());
    pose_.zoomPercent = lens_.limits().zoom.clamp(zoomPercent);
}

std::optional<CameraPosition> SceneCamera::currentPosition() {
    if (route_ != Route::usb) return std::nullopt;
    MutexLock lock(mutex_);
    advance(clock_.now());
    return CameraPosition{pose_.panDegrees, pose_.tiltDegrees, pose_.zoomPercent};
}

void SceneCamera::move(const CameraPosition& to) {
    if (route_ != Route::usb || !std::isfinite(to.pan) || !std::isfinite(to.tilt)) return;
    MutexLock lock(mutex_);
    advance(clock_.now());
    const LensPose clamped = lens_.limits().clamp({to.pan, to.tilt, to.zoom.value_or(pose_.zoomPercent)});
    target_ = CameraPosition{clamped.panDegrees, clamped.tiltDegrees, std::nullopt};
    pose_.zoomPercent = clamped.zoomPercent;
    landAtOnce();
}

void SceneCamera::selectFormat(const VideoFormatOption& format) {
    const std::vector<VideoFormatOption> offered = formats();
    if (std::find(offered.begin(), offered.end(), format) == offered.end()) return;
    {
        MutexLock lock(mutex_);
        if (format_ == format) return;
        format_ = format;
    }
    postEvent(main_, CameraEvent::devicesChanged());
}

void SceneCamera::flipGimbal() {
    MutexLock lock(mutex_);
    advance(clock_.now());
    // The USB route turns to 180 or back to 0 (clamped to the limits); the
    // wireless camera turns half a turn from where it is.
    const double pan = route_ == Route::usb ? (std::abs(pose_.panDegrees) < 90 ? 180.0 : 0.0)
                                            : wrapDegrees(pose_.panDegrees + 180.0);
    const LensPose clamped = lens_.limits().clamp({pan, pose_.tiltDegrees, pose_.zoomPercent});
    target_ = CameraPosition{clamped.panDegrees, clamped.tiltDegrees, std::nullopt};
    landAtOnce();
}

void SceneCamera::setCardRecording(bool startRecording) {
    if (route_ != Route::wireless) return;
    postEvent(main_, CameraEvent::cardRecording(
                         CardRecordingState{startRecording, false, startRecording ? std::optional<int>(0) : std::nullopt}));
}

void SceneCamera::startThreads() {
    if (frameThread_.joinable()) return;
    frameThread_ = std::jthread([this](std::stop_token stop) {
        setCurrentThreadName("SceneCamera");
        auto next = std::chrono::steady_clock::now();
        while (!stop.stop_requested()) {
            deliverFrameNow();
            int framesPerSecond;
            {
                MutexLock lock(mutex_);
                framesPerSecond = std::max(1, format_.framesPerSecond);
            }
            const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(1.0 / framesPerSecond));
            next += period;
            // A machine that fell behind drops frames rather than bursting.
            next = std::max(next, std::chrono::steady_clock::now() - period);
            std::unique_lock lock(pacingMutex_);
            // Paces the frames; a stop request wakes it at once.
            pacingWake_.wait_until(lock, stop, next, [] { return false; });
        }
    });
    if (!sounds()) return;
    // Apart from the frames, as a camera's microphone is its own device: a
    // slow picture neither delays nor breaks the sound.
    soundThread_ = std::jthread([this](std::stop_token stop) {
        setCurrentThreadName("SceneCamera.Sound");
        while (!stop.stop_requested()) {
            deliverSoundNow();
            std::unique_lock lock(pacingMutex_);
            pacingWake_.wait_for(lock, stop, kSoundChunk, [] { return false; });
        }
    });
}

void SceneCamera::stopThreads() {
    for (std::jthread* thread : {&soundThread_, &frameThread_}) {
        if (!thread->joinable()) continue;
        thread->request_stop();
        thread->join();
    }
}

}  // namespace hollowkit
