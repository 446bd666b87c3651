// CameraModel: what each camera event changes, the settling of a new
// picture orientation, the reconnect of a camera that went off (at once, or
// after a growing wait when cameras keep going off at once) and the retry of
// a wireless camera that is off.

#include <cstdio>
#include <type_traits>

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

std::string commandNotice(const std::string& label, const hollowkit::CommandOutcome& outcome) {
    switch (outcome.kind) {
        case hollowkit::CommandOutcome::Kind::accepted:
            return label + " \u2713";
        case hollowkit::CommandOutcome::Kind::rejected: {
            char code[8];
            std::snprintf(code, sizeof code, "%02X", static_cast<unsigned>(outcome.code));
            return "Camera rejected: " + label + " (code " + code + ")";
        }
        case hollowkit::CommandOutcome::Kind::noReply:
            break;
    }
    return "Camera did not answer: " + label;
}

}  // namespace

void CameraModel::handleEvent(const hollowkit::CameraEvent& event) {
    using hollowkit::CameraEvent;
    std::visit(
        [this](const auto& payload) {
            using T = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<T, CameraEvent::Status>) {
                publish<Field::statusText>(payload.text);
                publish<Field::failure>(std::nullopt);
            } else if constexpr (std::is_same_v<T, hollowkit::CameraStats>) {
                handleStats(payload);
            } else if constexpr (std::is_same_v<T, hollowkit::BatteryStatus>) {
                publish<Field::battery>(payload);
            } else if constexpr (std::is_same_v<T, hollowkit::CardStorage>) {
                publish<Field::cardStorage>(payload);
            } else if constexpr (std::is_same_v<T, hollowkit::CardRecordingState>) {
                handleCardRecording(payload);
            } else if constexpr (std::is_same_v<T, CameraEvent::CommandResult>) {
                settleCameraSettingAnswer(payload.label, payload.outcome);
                postNotice(commandNotice(payload.label, payload.outcome));
            } else if constexpr (std::is_same_v<T, CameraEvent::Failed>) {
                handleFailure(payload);
            } else if constexpr (std::is_same_v<T, CameraEvent::DevicesChanged>) {
                rereadDevices();
            } else if constexpr (std::is_same_v<T, CameraEvent::CameraOff>) {
                handleCameraOff();
            } else if constexpr (std::is_same_v<T, CameraEvent::Stopped>) {
                publish<Field::statusText>("Disconnected");
            } else {
                static_assert(!sizeof(T*), "every camera event is handled");
            }
        },
        event.payload());
}

void CameraModel::handleStats(const hollowkit::CameraStats& stats) {
    publish<Field::stats>(stats);
    publish<Field::failure>(std::nullopt);
    if (stats.hasPicture) {
        publish<Field::cameraOff>(false);
        route_.backoff.cameraShowedPicture();
    }
    settleResolution(stats.resolution);
    publish<Field::statusText>(stats.hasPicture ? "Live" : "Waiting for video");
    if (stats.hasPicture && cameraSettings_.resend) resendCameraSettings();
    // Some routes learn their zoom limits only once the picture runs.
    const std::optional<hollowkit::ZoomRange> range = camera_->zoomRange();
    if (range != state_.zoomRange) publish<Field::zoomRange>(range);
}

void CameraModel::handleFailure(const hollowkit::CameraEvent::Failed& failed) {
    publish<Field::statusText>(failed.message);
    publish<Field::failure>(failed.message);
    if (failed.onComputer) {
        // Nothing is known of the camera, which may be on and near: the
        // failure is what a person must read, not "The camera is off" of a
        // camera before. The camera tries again by itself, so no wait of
        // the model rebuilds it meanwhile.
        publish<Field::cameraOff>(false);
        cancelPendingRetry();
        return;
    }
    if (!state_.cameraOff || state_.connection != ConnectionMode::wireless) return;
    // One retry at a time: each failure moves it later instead of stacking
    // reconnects that would stop one another's camera.
    cancelPendingRetry();
    route_.pendingRetry = main_.after(kWirelessRetryDelay, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->retryWirelessIfCameraOff();
    });
}

void CameraModel::handleCameraOff() {
    publish<Field::cameraOff>(true);
    // A switch under way builds the next camera already; a wait scheduled
    // now would stop that one.
    if (route_.switching) return;
    const hollowkit::Duration wait = route_.backoff.cameraWentOff(main_.clock().now());
    if (wait == hollowkit::Duration::zero()) {
        connect(state_.connection);
        return;
    }
    // Replaces a failure's retry: that one would come sooner than the wait.
    cancelPendingRetry();
    route_.pendingRetry = main_.after(wait, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->reconnectIfStillOff();
    });
}

void CameraModel::rereadDevices() {
    publish<Field::microphones>(camera_->microphones());
    publish<Field::activeMicrophone>(camera_->activeMicrophone());
    publish<Field::formats>(camera_->formats());
    publish<Field::activeFormat>(camera_->activeFormat());
    publish<Field::zoomRange>(camera_->zoomRange());
}

void CameraModel::settleResolution(const std::optional<hollowkit::VideoDimensions>& resolution) {
    if (!resolution || resolution->width <= 0 || resolution->height <= 0) return;
    const PictureSize size{static_cast<double>(resolution->width), static_cast<double>(resolution->height)};
    if (state_.settledResolution == size) {
        cancelPendingResolution();
        return;
    }
    if (!state_.settledResolution || state_.settledResolution->isLandscape() == size.isLandscape()) {
        publish<Field::settledResolution>(size);
        return;
    }
    // The picture turned: publish it only once it has stayed that way, so a
    // camera swung past upright does not resize the window back and forth.
    if (route_.pendingResolution) return;
    const hollowkit::TaskId task = main_.after(kSettleDelay, [weak = weak_from_this(), size] {
        if (auto self = weak.lock()) self->applySettledResolution(size);
    });
    route_.pendingResolution = PendingResolution{task, size};
}

void CameraModel::applySettledResolution(PictureSize size) {
    route_.pendingResolution.reset();
    if (!state_.stats || !state_.stats->resolution) return;
    const hollowkit::VideoDimensions& now = *state_.stats->resolution;
    if (now.width == size.width && now.height == size.height) publish<Field::settledResolution>(size);
}

void CameraModel::cancelPendingResolution() {
    if (!route_.pendingResolution) return;
    main_.cancel(route_.pendingResolution->task);
    route_.pendingResolution.reset();
}

void CameraModel::retryWirelessIfCameraOff() {
    route_.pendingRetry = 0;
    if (state_.cameraOff && state_.connection == ConnectionMode::wireless) connect(ConnectionMode::wireless);
}

void CameraModel::reconnectIfStillOff() {
    route_.pendingRetry = 0;
    if (state_.cameraOff) connect(state_.connection);
}

void CameraModel::cancelPendingRetry() {
    if (route_.pendingRetry == 0) return;
    main_.cancel(route_.pendingRetry);
    route_.pendingRetry = 0;
}

}  // namespace lumenhollow
