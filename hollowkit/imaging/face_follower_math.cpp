#include "hollowkit/imaging/face_follower_math.h"

#include <algorithm>
#include <cmath>

namespace hollowkit::FaceFollowerMath {

namespace {

// How much narrower than at 1.0x the picture is; a zoom below 1.0x counts
// as 1.0x.
double zoomFactor(const CameraPosition& position) {
    return std::max(position.zoom ? *position.zoom / 100.0 : 1.0, 1.0);
}

}  // namespace

NormalizedRect seenNow(const NormalizedRect& face, const CameraPosition& seenFrom, const CameraPosition& current,
                       const FramingGeometry& geometry) {
    const double panned = current.pan - seenFrom.pan;
    const double tilted = current.tilt - seenFrom.tilt;
    if (!std::isfinite(panned) || !std::isfinite(tilted)) return face;
    const double zoom = zoomFactor(current);
    NormalizedRect moved = face;
    moved.x -= panned * zoom / geometry.horizontalFieldOfView;
    moved.y += tilted * zoom / geometry.verticalFieldOfView();
    return moved;
}

FollowerState step(const FollowerState& previous, const std::optional<NormalizedRect>& face,
                   const CameraPosition& current, double dt, const FollowerTuning& tuning) {
    // A box with NaN in it would poison the smoothed centre for as long as
    // the face stays, so it counts as no face at all.
    if (!face || !face->isFinite() || !std::isfinite(current.pan) || !std::isfinite(current.tilt)) {
        return {current, std::nullopt, false};
    }

    const NormalizedPoint c = face->center();
    const NormalizedPoint p = previous.smoothedFace.value_or(c);
    const NormalizedPoint s{p.x + tuning.faceSmoothing * (c.x - p.x), p.y + tuning.faceSmoothing * (c.y - p.y)};

    // Right of the target pans right; above the target tilts up.
    const double errX = s.x - kFramingTargetX;
    const double errY = kFramingTargetY - s.y;
    const double error = std::max(std::abs(errX), std::abs(errY));

    const double threshold = previous.isMoving ? tuning.stopThreshold : tuning.startThreshold;
    const CameraPosition rest{current.pan, current.tilt, std::nullopt};
    if (!(error > threshold)) {
        return {rest, s, false};
    }

    const double zoom = zoomFactor(current);
    const double targetPan = current.pan + errX * tuning.geometry.horizontalFieldOfView / zoom;
    const double targetTilt = current.tilt + errY * tuning.geometry.verticalFieldOfView() / zoom;

    const CameraPosition& base = previous.isMoving ? previous.setpoint : rest;
    const double gain = std::min(tuning.approachRate * dt, 1.0);
    const double limit = tuning.maxDegreesPerSecond * dt;
    auto limited = [&](double stepDegrees) { return std::max(std::min(stepDegrees, limit), -limit); };

    const double panStep = limited(gain * (targetPan - base.pan));
    const double tiltStep = limited(gain * (targetTilt - base.tilt));
    return {CameraPosition{base.pan + panStep, base.tilt + tiltStep, std::nullopt}, s, true};
}

}  // namespace hollowkit::FaceFollowerMath
