// CameraModel: building, attaching and replacing the camera, the shutdown
// stop, and the two timers.

#include <cmath>
#include <filesystem>
#include <system_error>

#include "hollowkit/base/pocket_log.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/credentials.h"

namespace lumenhollow {

std::shared_ptr<hollowkit::PocketCamera> CameraModel::makeCamera(
    ConnectionMode mode, const std::optional<hollowkit::HomeNetwork>& homeNetwork) {
    // Read every time: removing the setting pairs anew with the next camera.
    const std::string identifier = pairingIdentifier(settings_, services_.random);
    return services_.cameras.makeCamera(mode, identifier, homeNetwork);
}

void CameraModel::attachCamera(hollowkit::PocketCamera& camera) {
    // Answers of the camera before never come; this one learns the choices anew.
    cameraSettings_.sent.clear();
    cameraSettings_.told.clear();
    cameraSettings_.resend = true;
    route_.backoff.cameraStarted(main_.clock().now());
    camera.setOnEvent([weak = weak_from_this()](const hollowkit::CameraEvent& event) {
        if (auto self = weak.lock()) self->handleEvent(event);
    });
    camera.setOnAudioSample([tap = tap_](const hollowkit::AudioChunk& chunk) { tap->appendAudio(chunk); });
    // The frame path, never the model: frames must not wait for the main
    // executor. Its frames show only until this camera is replaced.
    camera.setOnVideoSample([path = framePath_, generation = framePath_->displayGeneration()](
                                const hollowkit::VideoFrame& frame) { path->handleVideo(frame, generation); });
}

void CameraModel::selectConnection(ConnectionMode mode) {
    if (mode == state_.connection) return;
    publish<Field::cameraOff>(false);
    connect(mode);
}

void CameraModel::switchToUSB() {
    if (isPocketConnected()) {
        selectConnection(ConnectionMode::usb);
        return;
    }
    publish<Field::showUSBGuide>(true);
}

void CameraModel::reconnect() {
    // A refused connect leaves the mark: clearing it alone would end the
    // automatic retries without connecting.
    if (route_.switching || isTerminating()) return;
    publish<Field::cameraOff>(false);
    connect(isPocketConnected() ? ConnectionMode::usb : ConnectionMode::wireless);
}

void CameraModel::chooseFormat(const hollowkit::VideoFormatOption& format) {
    // A new format would restart the stream under the recording.
    if (isRecording()) {
        postNotice(std::string(kFormatWhileRecordingNotice));
        return;
    }
    camera_->selectFormat(format);
}

void CameraModel::connect(ConnectionMode mode) {
    // While quitting, the camera only stops.
    if (route_.switching || isTerminating()) return;
    route_.switching = true;
    // The new camera starts on its own; a retry meant for the old one would stop it again.
    cancelPendingRetry();
    endCameraActivities();

    publish<Field::connection>(mode);
    resetCameraState();
    publish<Field::failure>(std::nullopt);
    publish<Field::statusText>("Connecting");

    const uint64_t id = ++route_.lastSwitchId;
    // A camera that never reports its stop must not block reconnecting for good.
    const hollowkit::TaskId watchdog = main_.after(kStopWatchdog, [weak = weak_from_this(), id] {
        if (auto self = weak.lock()) self->replaceCamera(id, false);
    });
    route_.pendingSwitch = PendingSwitch{id, mode, watchdog};
    camera_->stop([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) self->replaceCamera(id, true);
    });
}

void CameraModel::endCameraActivities() {
    // The record countdown, a running recording and face tracking end with
    // the camera.
    endRecordingActivities();
    endFaceActivities();
}

void CameraModel::resetCameraState() {
    publish<Field::stats>(std::nullopt);
    cancelPendingResolution();
    publish<Field::settledResolution>(std::nullopt);
    publish<Field::cardRecording>(std::nullopt);
    publish<Field::battery>(std::nullopt);
    publish<Field::cardStorage>(std::nullopt);
    publish<Field::zoom>(std::nullopt);
    publish<Field::zoomRange>(std::nullopt);
    publish<Field::microphones>({});
    publish<Field::activeMicrophone>(std::nullopt);
    publish<Field::audioLevel>(std::nullopt);
    publish<Field::formats>({});
    publish<Field::activeFormat>(std::nullopt);
}

void CameraModel::replaceCamera(uint64_t switchId, bool stopped) {
    // Only the switch still waiting; a completion after the watchdog, or a
    // second call of one, finds nothing to do.
    if (!route_.pendingSwitch || route_.pendingSwitch->id != switchId) return;
    const PendingSwitch pending = *route_.pendingSwitch;
    route_.pendingSwitch.reset();
    main_.cancel(pending.watchdog);
    if (!stopped) {
        hollowkit::PocketLog::logf("The camera did not finish stopping within %.0f s; replacing it",
                                   std::chrono::duration<double>(kStopWatchdog).count());
    }

    // Nothing more from the old camera reaches the model or the screens.
    camera_->setOnEvent(nullptr);
    camera_->setOnVideoSample(nullptr);
    camera_->setOnAudioSample(nullptr);
    // Frames of the old camera still on their way are dropped too.
    framePath_->clearDisplay();

    camera_ = makeCamera(pending.mode, state_.homeNetwork);  // the old camera goes here
    attachCamera(*camera_);
    route_.switching = false;
    // The views read what the camera can do (positions, card recording) when
    // its connection is announced; announced at the switch's start, they read
    // the old camera. Announced again now, they follow the new one at once
    // rather than at its first statistics.
    publish<Field::connection>(pending.mode);
    camera_->start();
}

void CameraModel::stopCamera(std::function<void()> completion) {
    camera_->stop(std::move(completion));
}

void CameraModel::startTimers() {
    stopTimers();
    levelTimer_ = main_.every(kAudioLevelInterval, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->updateAudioLevel();
    });
    refreshFreeSpace();
    diskTimer_ = main_.every(kFreeSpaceInterval, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->refreshFreeSpace();
    });
}

void CameraModel::stopTimers() {
    main_.cancel(levelTimer_);
    main_.cancel(diskTimer_);
    levelTimer_ = 0;
    diskTimer_ = 0;
}

void CameraModel::updateAudioLevel() {
    std::optional<float> level = camera_->audioLevel();
    // A level that is not a number says nothing; published as none, it is
    // not published again on every tick (NaN never equals itself).
    if (level && std::isnan(*level)) level.reset();
    if (level != state_.audioLevel) publish<Field::audioLevel>(level);
}

void CameraModel::refreshFreeSpace() {
    // The folder is made with the first recording; until then its parent's
    // volume is where it will be.
    std::error_code error;
    const bool exists = std::filesystem::exists(outputFolder_, error);
    const std::filesystem::path folder = exists ? outputFolder_ : outputFolder_.parent_path();
    const std::optional<uint64_t> bytes = services_.disk.availableBytes(folder);
    publish<Field::macFreeBytes>(bytes ? std::optional<int64_t>(static_cast<int64_t>(*bytes)) : std::nullopt);
}

}  // namespace lumenhollow
