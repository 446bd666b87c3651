// CameraModel: steering by hand. Held arrows and the joystick pad set
// speeds in the camera's gimbal mailbox; a drag aims the camera exactly
// when it can be positioned and sets a speed otherwise; zoom moves in
// steps of 25 points from the keys, the buttons and the scroll wheel; the
// flip turns the camera round.

#include <algorithm>
#include <cmath>

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

namespace {

constexpr double kSpeedLimit = hollowkit::GimbalVelocity::speedLimit;

// trunc(value) within the speed limit. The clamp comes first, on the
// double: converting a value beyond int's range is undefined. Input that
// is not a number gives no speed.
int speedFrom(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<int>(std::trunc(std::clamp(value, -kSpeedLimit, kSpeedLimit)));
}

// `current` moved by `steps` zoom steps at once, then brought into `range`.
int zoomAfterOneStep(int current, int steps, const hollowkit::ZoomRange& range) {
    const int64_t moved = int64_t{current} + int64_t{steps} * CameraModel::kZoomStepPercent;
    return range.clamp(static_cast<int>(std::clamp<int64_t>(moved, INT32_MIN, INT32_MAX)));
}

// `current` moved by `steps` zoom steps within `range`, as if stepped one
// at a time: the first step brings a value outside the range inside it,
// the rest go on from there. `steps` is bounded by the caller.
int zoomAfterSteps(int current, int steps, const hollowkit::ZoomRange& range) {
    if (steps == 0) return current;
    const int direction = steps > 0 ? 1 : -1;
    const int64_t first = range.clamp(static_cast<int>(
        std::clamp<int64_t>(int64_t{current} + direction * CameraModel::kZoomStepPercent, INT32_MIN, INT32_MAX)));
    const int64_t rest = first + int64_t{steps - direction} * CameraModel::kZoomStepPercent;
    return range.clamp(static_cast<int>(std::clamp<int64_t>(rest, INT32_MIN, INT32_MAX)));
}

// More steps than any zoom range holds; keeps the arithmetic far from overflow.
int boundedSteps(double steps) {
    constexpr double kMostSteps = 1'000'000;
    return static_cast<int>(std::clamp(steps, -kMostSteps, kMostSteps));
}

}  // namespace

void CameraModel::applyHeldDirections() {
    const auto held = [this](GimbalDirection direction) { return aim_.heldDirections.contains(direction) ? 1 : 0; };
    const hollowkit::GimbalVelocity velocity{
        kKeySpeed * (held(GimbalDirection::up) - held(GimbalDirection::down)),
        kKeySpeed * (held(GimbalDirection::right) - held(GimbalDirection::left))};
    camera_->gimbal().setVelocity(velocity);
}

void CameraModel::joystick(double x, double y) {
    pauseFollowerForManualInput();
    camera_->gimbal().setVelocity({speedFrom(y * kJoystickGain), speedFrom(x * kJoystickGain)});
}

void CameraModel::stopGimbal() {
    camera_->gimbal().setVelocity(hollowkit::GimbalVelocity::zero);
}

void CameraModel::dragGimbal(double dx, double dy, double width) {
    pauseFollowerForManualInput();
    if (!aim_.dragStart) {
        camera_->gimbal().setVelocity({speedFrom(kDragSpeedGain * dy), speedFrom(kDragSpeedGain * dx)});
        return;
    }
    if (!(width > 0) || !std::isfinite(dx) || !std::isfinite(dy) || !std::isfinite(width)) return;
    // Each update carries the whole offset from the drag's start, so a
    // dropped one loses nothing: the next, or the drag's end, says where to aim.
    if (main_.clock().now() < aim_.lastDragMove + kDragMoveInterval) {
        aim_.heldBackDrag = DragOffset{dx, dy, width};
        return;
    }
    aimDrag({dx, dy, width});
}

void CameraModel::aimDrag(const DragOffset& offset) {
    aim_.lastDragMove = main_.clock().now();
    aim_.heldBackDrag.reset();
    const double acrossPreview =
        state_.zoom && *state_.zoom > 0 ? kPreviewDegrees / (*state_.zoom / 100.0) : kPreviewDegrees;
    const double degreesPerPoint = acrossPreview / offset.width;
    camera_->move({aim_.dragStart->pan - offset.dx * degreesPerPoint,
                   aim_.dragStart->tilt - offset.dy * degreesPerPoint, std::nullopt});
}

void CameraModel::startDrag(std::optional<hollowkit::CameraPosition> start) {
    aim_.dragStart = std::move(start);
    aim_.heldBackDrag.reset();
}

void CameraModel::endDrag() {
    if (!aim_.dragStart) {
        // A speed drag would go on.
        stopGimbal();
    } else if (aim_.heldBackDrag) {
        // The pointer stopped where the throttle held the last aim back: the
        // camera goes there at once, not up to one interval short.
        aimDrag(*aim_.heldBackDrag);
    }
    aim_.dragStart.reset();
    aim_.heldBackDrag.reset();
}

std::optional<hollowkit::ZoomRange> CameraModel::adoptZoomRange() {
    if (state_.zoomRange) return state_.zoomRange;
    // The camera learnt its range before reporting its devices again.
    const std::optional<hollowkit::ZoomRange> range = camera_->zoomRange();
    if (range) publish<Field::zoomRange>(range);
    return range;
}

void CameraModel::sendZoom(int zoomPercent) {
    publish<Field::zoom>(zoomPercent);
    camera_->setZoom(zoomPercent);
}

void CameraModel::zoomStep(int steps) {
    const std::optional<hollowkit::ZoomRange> range = adoptZoomRange();
    if (!range) return;
    // One step of n: a zoom outside the range comes back to its nearer
    // bound, and the camera is told even when the value stays at a bound.
    sendZoom(zoomAfterOneStep(state_.zoom.value_or(range->minPercent), steps, *range));
}

void CameraModel::scrollZoom(double delta) {
    // One bogus value would otherwise poison the distance for good.
    if (!std::isfinite(delta)) return;
    aim_.scrollAccumulator += delta;
    if (std::abs(aim_.scrollAccumulator) < kScrollQuantum) return;
    // Every whole 4.0 is one step; what is left below 4.0 waits. All the
    // steps of one event go to the camera as one zoom, so a huge delta
    // cannot loop for long or queue a command per step.
    const double remainder = std::fmod(aim_.scrollAccumulator, kScrollQuantum);
    const double steps = (aim_.scrollAccumulator - remainder) / kScrollQuantum;
    aim_.scrollAccumulator = remainder;
    if (const std::optional<hollowkit::ZoomRange> range = adoptZoomRange()) {
        sendZoom(zoomAfterSteps(state_.zoom.value_or(range->minPercent), boundedSteps(steps), *range));
    }
}

void CameraModel::pauseFollowerForManualInput() {
    if (state_.faceTracking) faceFollower_->pause(kManualPauseSeconds);
}

void CameraModel::flipGimbal() {
    // The pause comes first: a follower tick between the two would aim back
    // at the face the turn is leaving.
    if (state_.faceTracking) faceFollower_->pause(kJumpPauseSeconds);
    camera_->flipGimbal();
}

void CameraModel::centerGimbal() { camera_->gimbal().requestRecenter(); }

}  // namespace lumenhollow
