#include "hollowkit/usb/usb_camera.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <future>
#include <limits>
#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/usb/pocket_device_tests.h"
#include "hollowkit/usb/usb_camera_formats.h"

namespace hollowkit {

namespace {

constexpr const char* kOpeningText = "Opening USB camera";
constexpr const char* kPermissionDeniedText = "Camera permission was denied";
constexpr const char* kNoCameraText = "No DJI Pocket found on USB. Choose Webcam on the camera screen.";
constexpr const char* kOpenFailedPrefix = "Could not open the USB camera: ";
constexpr const char* kVideoOnlyText = "USB video only: gimbal controls unavailable";
constexpr const char* kVideoStoppedPrefix = "The USB camera stopped sending video: ";

constexpr double kFlipThresholdDegrees = 90;
constexpr double kFlipTargetDegrees = 180;
// A failed relative move is retried on every tick this many times, then
// once a second, so a device that refuses everything does not fill the log.
constexpr int kQuickRetries = 5;
constexpr uint64_t kSlowRetryTicks = 20;

int signOf(int value) {
    return (value > 0) - (value < 0);
}

bool isPermissionError(int code) {
    return code == EACCES || code == EPERM;
}

bool isDeviceGone(int code) {
    return code == ENODEV || code == ENXIO || code == ENOENT;
}

std::unique_ptr<SerialQueue> ownQueue(Executor* injected, const QueueLabel& label, const Clock& clock) {
    if (injected != nullptr) return nullptr;
    return std::make_unique<SerialQueue>(std::string(label.label), clock);
}

Executor& queueOf(Executor* injected, const std::unique_ptr<SerialQueue>& own) {
    return injected != nullptr ? *injected : static_cast<Executor&>(*own);
}

}  // namespace

// A stop's completion, run exactly once: by the stop sequence, or by the
// destructor when the camera goes before the sequence ends.
class USBCamera::CompletionOnce {
public:
    explicit CompletionOnce(std::function<void()> completion) : completion_(std::move(completion)) {}

    void fire() {
        std::function<void()> completion;
        {
            MutexLock lock(mutex_);
            completion.swap(completion_);
        }
        if (completion) completion();
    }

private:
    Mutex mutex_;
    std::function<void()> completion_ HK_GUARDED_BY(mutex_);
};

USBCamera::USBCamera(USBCameraServices services, std::optional<std::string> pairingIdentifier)
    : services_(std::move(services)),
      gimbal_(services_.clock),
      ownCaptureQueue_(ownQueue(services_.captureQueue, kUsbCaptureQueue, services_.clock)),
      ownControlQueue_(ownQueue(services_.controlQueue, kUsbControlQueue, services_.clock)),
      ownAudioQueue_(ownQueue(services_.audioQueue, kUsbAudioQueue, services_.clock)),
      captureQueue_(queueOf(services_.captureQueue, ownCaptureQueue_)),
      controlQueue_(queueOf(services_.controlQueue, ownControlQueue_)),
      audioQueue_(queueOf(services_.audioQueue, ownAudioQueue_)),
      lastStats_(services_.clock.now()),
      audioLevelDb_(std::numeric_limits<float>::quiet_NaN()) {
    if (pairingIdentifier) {
        // On this route the link only carries telemetry: no Wi-Fi wake.
        bluetooth_ = std::make_unique<PocketBluetoothLink>(services_.main, std::move(*pairingIdentifier), false);
        bluetooth_->onEvent = [this, alive = alive_](const PocketBluetoothLink::Event& event) {
            if (*alive) handleBluetoothEvent(event);
        };
    }
}

USBCamera::~USBCamera() {
    *alive_ = false;
    {
        MutexLock lock(queueLock_);
        closing_ = true;
    }
    // Ends this camera's own watch only; another camera may share the monitor.
    deviceSubscription_.reset();
    {
        MutexLock lock(stateLock_);
        if (gimbalTimer_ != 0) controlQueue_.cancel(gimbalTimer_);
        if (statsTimer_ != 0) controlQueue_.cancel(statsTimer_);
        gimbalTimer_ = statsTimer_ = 0;
    }
    // Joins the queues: a step running now finishes, the rest is dropped.
    // Nothing can queue new work any more (closing_).
    ownCaptureQueue_.reset();
    ownControlQueue_.reset();
    ownAudioQueue_.reset();
    if (videoDevice_) videoDevice_->stop();
    audioCapture_.reset();
    controls_.reset();
    bluetooth_.reset();

    std::vector<std::shared_ptr<CompletionOnce>> pending;
    {
        MutexLock lock(stopLock_);
        pending.swap(pendingStops_);
    }
    for (auto& completion : pending) {
        services_.main.post([completion] { completion->fire(); });
    }
}

bool USBCamera::isPocketConnected(UsbBus& bus) {
    return isPocketOnBus(bus);
}

bool USBCamera::enqueue(Executor& queue, std::function<void(USBCamera&)> step) {
    MutexLock lock(queueLock_);
    if (closing_) return false;
    queue.post([this, alive = alive_, step = std::move(step)] {
        if (*alive) step(*this);
    });
    return true;
}

void USBCamera::emit(CameraEvent event) {
    if (const auto* status = event.get<CameraEvent::Status>()) {
        PocketLog::log("Status: " + status->text);
    } else if (const auto* failed = event.get<CameraEvent::Failed>()) {
        PocketLog::log("Failed: " + failed->message);
    } else if (event.kind() == CameraEvent::Kind::stopped) {
        PocketLog::log("Stopped");
    }
    postEvent(services_.main, std::move(event));
}

// ---- properties ----

std::optional<ZoomRange> USBCamera::zoomRange() const {
    MutexLock lock(stateLock_);
    return zoomRange_;
}

std::vector<MicrophoneOption> USBCamera::microphones() const {
    MutexLock lock(stateLock_);
    return microphones_;
}

std::optional<MicrophoneOption> USBCamera::activeMicrophone() const {
    MutexLock lock(stateLock_);
    return activeMicrophone_;
}

std::optional<float> USBCamera::audioLevel() const {
    {
        MutexLock lock(stateLock_);
        if (!hasAudioInput_) return std::nullopt;
    }
    const float level = audioLevelDb_.load();
    if (std::isnan(level)) return std::nullopt;
    return level;
}

std::vector<VideoFormatOption> USBCamera::formats() const {
    MutexLock lock(stateLock_);
    return formats_;
}

std::optional<VideoFormatOption> USBCamera::activeFormat() const {
    MutexLock lock(stateLock_);
    return activeFormat_;
}

// ---- start and stop ----

void USBCamera::start() {
    emit(CameraEvent::status(kOpeningText));
    observeDevices();
    // Linux asks no one for the camera: a node we may not open is the
    // refusal, found while opening. The sound server answers for the sound.
    enqueue(captureQueue_, [](USBCamera& camera) {
        camera.audioPermitted_ = camera.services_.audio.requestAccess();
        camera.configureSession();
    });
    if (bluetooth_) {
        // Each start gives the link a new central, which sets it going.
        services_.main.post([this, alive = alive_] {
            if (*alive && bluetooth_ && services_.bluetoothCentral) {
                bluetooth_->start(services_.bluetoothCentral(services_.main));
            }
        });
    }
}

void USBCamera::observeDevices() {
    if (deviceSubscription_ || services_.deviceMonitor == nullptr) return;
    deviceSubscription_ = services_.deviceMonitor->subscribe([this, alive = alive_](const DeviceChange& change) {
        if (*alive) audioDeviceChanged(change);
    });
}

void USBCamera::stop(std::function<void()> completion) {
    auto once = std::make_shared<CompletionOnce>(std::move(completion));
    {
        MutexLock lock(stopLock_);
        pendingStops_.push_back(once);
    }
    deviceSubscription_.reset();
    {
        MutexLock lock(stateLock_);
        stopRequested_ = true;
        if (gimbalTimer_ != 0) controlQueue_.cancel(gimbalTimer_);
        if (statsTimer_ != 0) controlQueue_.cancel(statsTimer_);
        gimbalTimer_ = statsTimer_ = 0;
    }
    if (bluetooth_) bluetooth_->disconnect();
    enqueue(controlQueue_, [once](USBCamera& camera) {
        // Halts a pan or tilt the gimbal tick started.
        if (camera.controls_) camera.controls_->move(0, 0);
        camera.enqueue(camera.captureQueue_, [once](USBCamera& inner) {
            inner.stopCapture();
            inner.emit(CameraEvent::stopped());
            // Queued after `stopped`, so the owner hears of the stop first.
            inner.finishStop(once);
        });
    });
}

void USBCamera::finishStop(const std::shared_ptr<CompletionOnce>& completion) {
    {
        MutexLock lock(stopLock_);
        std::erase(pendingStops_, completion);
    }
    services_.main.post([completion] { completion->fire(); });
}

void USBCamera::stopCapture() {
    if (videoDevice_) videoDevice_->stop();
    audioCapture_.reset();
    audioLevelDb_ = std::numeric_limits<float>::quiet_NaN();
}

void USBCamera::handleBluetoothEvent(const PocketBluetoothLink::Event& event) {
    using Kind = PocketBluetoothLink::Event::Kind;
    switch (event.kind) {
        case Kind::telemetry:
            if (auto battery = BatteryStatus::fromFrame(event.frame)) emit(CameraEvent::battery(*battery));
            break;
        case Kind::failed:
            PocketLog::log("Bluetooth status link unavailable: " + event.text);
            if (bluetooth_) bluetooth_->disconnect();
            break;
        default:
            // Status lines, credentials and the disconnection mean nothing here.
            break;
    }
}

// ---- the open sequence (capture queue) ----

void USBCamera::configureSession() {
    {
        MutexLock lock(stateLock_);
        if (stopRequested_) return;
    }
    const auto device = findPocketDevice(services_.video.devices());
    if (!device) {
        emit(CameraEvent::failed(kNoCameraText));
        return;
    }
    if (isPermissionError(device->probeError)) {
        emit(CameraEvent::failed(kPermissionDeniedText));
        return;
    }
    auto opened = services_.video.open(*device);
    if (!opened) {
        const VideoDeviceError& error = opened.error();
        emit(CameraEvent::failed(isPermissionError(error.code) ? std::string(kPermissionDeniedText)
                                                              : kOpenFailedPrefix + error.description()));
        return;
    }
    videoDevice_ = std::move(opened).value();
    const std::vector<VideoFormatOption> options = formatList(videoDevice_->formats());
    {
        MutexLock lock(stateLock_);
        formats_ = options;
    }

    chooseMicrophone();
    // The default format goes in before streaming starts, so the stream
    // does not start once only to be restarted.
    if (const auto chosen = defaultFormat(options)) selectFormat(*chosen, *videoDevice_);

    VideoStreamHandlers handlers;
    handlers.onFrame = [this](const VideoFrame& frame) { handleVideoFrame(frame); };
    handlers.onEnd = [this](const VideoDeviceError& error) {
        enqueue(captureQueue_, [error](USBCamera& camera) { camera.videoStreamEnded(error); });
    };
    if (auto started = videoDevice_->start(std::move(handlers)); !started) {
        // Nothing runs: no sound without the pictures either.
        audioCapture_.reset();
        emit(CameraEvent::failed(kOpenFailedPrefix + started.error().description()));
        return;
    }

    enqueue(controlQueue_, [](USBCamera& camera) { camera.openControls(); });
    emit(CameraEvent::status("USB: " + device->name));
    emit(CameraEvent::devicesChanged());
}

void USBCamera::videoStreamEnded(const VideoDeviceError& error) {
    {
        MutexLock lock(stateLock_);
        if (stopRequested_) return;
    }
    PocketLog::log("USB video ended: " + error.toString());
    if (isDeviceGone(error.code)) {
        emit(CameraEvent::cameraOff());
    } else {
        emit(CameraEvent::failed(kVideoStoppedPrefix + error.description()));
    }
}

// ---- frames (stream thread) ----

void USBCamera::handleVideoFrame(const VideoFrame& frame) {
    const VideoDimensions size{frame.width(), frame.height()};
    bool changed = false;
    {
        MutexLock lock(stateLock_);
        if (!dimensions_ || *dimensions_ != size) {
            dimensions_ = size;
            changed = true;
        }
    }
    if (changed) PocketLog::logf("USB frames now %dx%d", size.width, size.height);
    {
        MutexLock lock(frameLock_);
        ++framesSinceStats_;
    }
    callOnVideoSample(frame);
}

// ---- formats (capture queue) ----

void USBCamera::selectFormat(const VideoFormatOption& format) {
    enqueue(captureQueue_, [format](USBCamera& camera) {
        if (camera.videoDevice_) camera.selectFormat(format, *camera.videoDevice_);
    });
}

void USBCamera::selectFormat(const VideoFormatOption& option, VideoCaptureDevice& device) {
    const auto match = matchFormat(device.formats(), option);
    if (!match) return;  // not offered by this device: ignored without a word
    if (auto applied = device.applyFormat(match->format, match->range); !applied) {
        PocketLog::log("USB format selection failed: " + applied.error().toString());
        return;
    }
    {
        MutexLock lock(stateLock_);
        activeFormat_ = option;
    }
    PocketLog::log("USB format selected: " + option.description() + " (" + option.id() + ")");
    emit(CameraEvent::devicesChanged());
}

// ---- gimbal, zoom and statistics (control queue) ----

void USBCamera::openControls() {
    controls_ = UVCCameraControls::open(services_.usb);
    if (!controls_) emit(CameraEvent::status(kVideoOnlyText));
    std::optional<ZoomRange> zoom;
    if (controls_ && controls_->ranges()) {
        const auto& units = controls_->ranges()->zoom;
        zoom = ZoomRange{units.lower, units.upper};
    }
    {
        MutexLock lock(stateLock_);
        zoomRange_ = zoom;
    }
    // The open already announced the devices; the zoom range arrives later.
    if (zoom) emit(CameraEvent::devicesChanged());
    startTimers();
}

void USBCamera::startTimers() {
    MutexLock lock(stateLock_);
    if (stopRequested_) return;
    // Measured from here, not from construction: opening may take seconds.
    lastStats_ = services_.clock.now();
    enqueue(controlQueue_, [](USBCamera& camera) { camera.gimbalTick(); });
    gimbalTimer_ = controlQueue_.every(kGimbalTickPeriod, [this, alive = alive_] {
        if (*alive) gimbalTick();
    });
    statsTimer_ = controlQueue_.every(kStatisticsPeriod, [this, alive = alive_] {
        if (*alive) reportStatistics();
    });
}

void USBCamera::gimbalTick() {
    if (!controls_) return;
    ++ticks_;
    if (gimbal_.takeRecenterRequest()) {
        controls_->setAngles(0, 0);
        lastDirection_ = Direction{};
        failedDirection_.reset();
        return;
    }
    // The mailbox gives zero once a motion is older than its hold limit.
    const GimbalVelocity velocity = gimbal_.currentVelocity();
    const Direction wanted{signOf(velocity.yaw), signOf(velocity.pitch)};
    if (wanted == lastDirection_) {
        failedDirection_.reset();
        return;
    }
    if (failedDirection_ == wanted && ticks_ < retryTick_) return;
    if (controls_->move(wanted.pan, wanted.tilt)) {
        lastDirection_ = wanted;
        failedDirection_.reset();
        failedAttempts_ = 0;
        return;
    }
    // Not sent: lastDirection_ keeps what the gimbal is really doing, so
    // the move (above all a stop) is tried again.
    failedAttempts_ = failedDirection_ == wanted ? failedAttempts_ + 1 : 1;
    failedDirection_ = wanted;
    retryTick_ = ticks_ + (failedAttempts_ < kQuickRetries ? 1 : kSlowRetryTicks);
}

void USBCamera::reportStatistics() {
    const TimePoint now = services_.clock.now();
    int64_t frames = 0;
    {
        MutexLock lock(frameLock_);
        frames = std::exchange(framesSinceStats_, 0);
    }
    std::optional<PanTiltArcseconds> panTilt;
    if (controls_) panTilt = controls_->readPanTilt(kUvcGetCur);
    const double elapsed = std::chrono::duration_cast<Seconds>(now - lastStats_).count();

    CameraStats stats;
    stats.hasPicture = frames > 0;
    stats.framesPerSecond = elapsed > 0 ? static_cast<double>(frames) / elapsed : 0;
    stats.gimbalResponding = panTilt.has_value();
    if (panTilt) {
        stats.attitude = GimbalAttitude{panTilt->tilt / kArcsecondsPerDegree, 0, panTilt->pan / kArcsecondsPerDegree};
    }
    {
        MutexLock lock(stateLock_);
        stats.resolution = dimensions_;
    }
    emit(CameraEvent::stats(stats));
    lastStats_ = now;
}

void USBCamera::setZoom(int zoomPercent) {
    enqueue(controlQueue_, [zoomPercent](USBCamera& camera) {
        if (camera.controls_) camera.controls_->setZoom(zoomPercent);
    });
}

std::optional<CameraPosition> USBCamera::readPosition() {
    if (!controls_) return std::nullopt;
    const auto panTilt = controls_->readPanTilt(kUvcGetCur);
    if (!panTilt) return std::nullopt;
    CameraPosition position;
    position.pan = panTilt->pan / kArcsecondsPerDegree;
    position.tilt = panTilt->tilt / kArcsecondsPerDegree;
    if (const auto bytes = controls_->get(kUvcGetCur, kUvcCtZoomAbsolute, 2)) {
        if (const auto zoom = uvcReadZoom(*bytes)) position.zoom = int{*zoom};
    }
    return position;
}

std::optional<CameraPosition> USBCamera::currentPosition() {
    // On the control queue itself (a test executor) waiting would never
    // end: read at once.
    if (controlQueue_.isCurrent()) return readPosition();
    auto promise = std::make_shared<std::promise<std::optional<CameraPosition>>>();
    auto answer = promise->get_future();
    if (!enqueue(controlQueue_, [promise](USBCamera& camera) { promise->set_value(camera.readPosition()); })) {
        return std::nullopt;
    }
    try {
        return answer.get();
    } catch (const std::future_error&) {
        // The step was dropped unrun: the camera is going away.
        return std::nullopt;
    }
}

void USBCamera::move(const CameraPosition& to) {
    enqueue(controlQueue_, [to](USBCamera& camera) {
        if (!camera.controls_) return;
        double pan = to.pan;
        double tilt = to.tilt;
        if (const auto& ranges = camera.controls_->ranges()) {
            pan = ranges->pan.clamp(pan);
            tilt = ranges->tilt.clamp(tilt);
        }
        camera.controls_->setAngles(pan, tilt);
        if (to.zoom) camera.controls_->setZoom(*to.zoom);
    });
}

void USBCamera::flipGimbal() {
    const auto position = currentPosition();
    if (!position) return;
    CameraPosition target;
    target.pan = std::fabs(position->pan) < kFlipThresholdDegrees ? kFlipTargetDegrees : 0;
    target.tilt = position->tilt;
    move(target);
}

}  // namespace hollowkit
