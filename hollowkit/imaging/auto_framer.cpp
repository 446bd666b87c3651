#include "hollowkit/imaging/auto_framer.h"

#include <algorithm>
#include <cmath>

namespace hollowkit::AutoFramer {

namespace {

// The face fills this share of the picture height after the zoom.
constexpr double kFaceHeightShare = 0.2;
// How far below the middle the face centre ends (0.12 of the height).
constexpr double kAimBelowMiddle = 0.5 - kFramingTargetY;

// z0 × 0.2 / height, rounded half away from zero and clamped into `range`.
// The clamp happens on the double: a quotient beyond int's range (a height
// of 1e-300) must never reach the conversion.
int zoomForFace(int z0, double faceHeight, const ZoomRange& range) {
    double quotient = z0 * kFaceHeightShare / faceHeight;
    // Raised to the lower bound first, then lowered to the upper one; a NaN
    // fails the first test and lands on the lower bound.
    if (!(quotient >= range.minPercent)) {
        quotient = range.minPercent;
    }
    if (quotient > range.maxPercent) {
        quotient = range.maxPercent;
    }
    // Rounding a value between two integers stays between them.
    return static_cast<int>(std::round(quotient));
}

}  // namespace

CameraPosition target(const NormalizedRect& face, std::optional<int> zoom,
                      std::optional<ZoomRange> zoomRange, double pan, double tilt,
                      const FramingGeometry& geometry) {
    const int z0 = zoom.value_or(100);

    if (!face.isFinite()) {
        return {pan, tilt, zoomRange ? std::optional<int>(z0) : std::nullopt};
    }

    int z1 = z0;
    std::optional<int> resultZoom;
    if (zoomRange) {
        if (face.height > 0) {
            z1 = zoomForFace(z0, face.height, *zoomRange);
        }
        resultZoom = z1;
    }

    const double presentFactor = std::max(z0 / 100.0, 1.0);
    const double newFactor = std::max(z1 / 100.0, 1.0);
    const double vertical = geometry.verticalFieldOfView();

    const double newPan = pan + (face.midX() - 0.5) * geometry.horizontalFieldOfView / presentFactor;
    // Centre the face in the present picture, then aim lower by 0.12 of the
    // new picture's height so its centre ends 38 % from the top.
    const double newTilt = tilt + (0.5 - face.midY()) * vertical / presentFactor -
                           kAimBelowMiddle * vertical / newFactor;
    return {newPan, newTilt, resultZoom};
}

}  // namespace hollowkit::AutoFramer
