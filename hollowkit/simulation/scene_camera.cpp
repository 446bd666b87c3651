#include "hollowkit/simulation/scene_camera.h"

#include <algorithm>
#include <cmath>
#include <numbers>
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

const MicrophoneOption& toneMicrophone() {
    static const MicrophoneOption option{"scene-camera-tone", "Scene Camera Tone", std::string("USB")};
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
      stopCompletes_(options.stopCompletes),
      moveDegreesPerSecond_(options.moveDegreesPerSecond),
      lens_(scene_->lens(options.limits)),
      gimbal_(main.clock()),
      pose_(options.limits.clamp(options.start)),
      advancedTo_(clock_.now()),
      format_(options.format),
      lastStats_(advancedTo_) {}

SceneCamera::~SceneCamera() { stopFrameThread(); }

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
        if (route_ == Route::usb && tone_) {
            callOnAudioSample(toneChunk(now, toDuration(1.0 / std::max(1, format.framesPerSecond))));
        }
    }
    if (stats) postEvent(main_, CameraEvent::stats(*stats));
}

AudioChunk SceneCamera::toneChunk(TimePoint pts, Duration length) {
    const auto frames = static_cast<size_t>(std::lround(std::chrono::duration<double>(length).count() * kToneSampleRate));
    uint64_t first;
    {
        MutexLock lock(mutex_);
        first = toneSamples_;
        toneSamples_ += frames;
    }
    std::vector<float> samples(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        // A whole number of periods fits in a second, so the phase repeats
        // every second and stays exact however long the tone runs.
        const auto n = static_cast<double>((first + i) % kToneSampleRate);
        const auto value = static_cast<float>(kToneAmplitude * std::sin(2 * std::numbers::pi * kToneHz * n / kToneSampleRate));
        samples[2 * i] = value;
        samples[2 * i + 1] = value;
    }
    return AudioChunk::copyF32(samples, kToneSampleRate, 2, pts);
}

std::vector<MicrophoneOption> SceneCamera::microphones() const {
    if (route_ != Route::usb || !tone_) return {};
    return {toneMicrophone()};
}

std::optional<MicrophoneOption> SceneCamera::activeMicrophone() const {
    if (route_ != Route::usb || !tone_) return std::nullopt;
    return toneMicrophone();
}

std::optional<float> SceneCamera::audioLevel() const {
    if (route_ != Route::usb || !tone_) return std::nullopt;
    // The mean square of a sine is half its amplitude squared.
    return static_cast<float>(10 * std::log10(kToneAmplitude * kToneAmplitude / 2.0));
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
    if (pacedFrames_) startFrameThread();
}

void SceneCamera::stop(std::function<void()> completion) {
    stopFrameThread();
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
    MutexLock lock(mutex_);
    format_ = format;
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

void SceneCamera::startFrameThread() {
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
            std::unique_lock lock(frameMutex_);
            // Paces the frames; a stop request wakes it at once.
            frameWake_.wait_until(lock, stop, next, [] { return false; });
        }
    });
}

void SceneCamera::stopFrameThread() {
    if (!frameThread_.joinable()) return;
    frameThread_.request_stop();
    frameThread_.join();
}

}  // namespace hollowkit
