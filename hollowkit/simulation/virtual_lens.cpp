#include "hollowkit/simulation/virtual_lens.h"

#include <algorithm>

namespace hollowkit {

LensPose LensLimits::clamp(const LensPose& pose) const {
    return {std::clamp(pose.panDegrees, panMinDegrees, panMaxDegrees),
            std::clamp(pose.tiltDegrees, tiltMinDegrees, tiltMaxDegrees), zoom.clamp(pose.zoomPercent)};
}

VirtualLens::VirtualLens(double pixelsPerDegree, double centerX, double centerY, LensLimits limits)
    : pixelsPerDegree_(pixelsPerDegree), centerX_(centerX), centerY_(centerY), limits_(limits) {}

double VirtualLens::fieldOfViewDegrees(int zoomPercent) const {
    const int zoom = std::max(1, limits_.zoom.clamp(zoomPercent));
    return kHorizontalFieldOfViewDegrees * 100.0 / zoom;
}

SceneWindow VirtualLens::window(const LensPose& pose, int outWidth, int outHeight) const {
    const LensPose clamped = limits_.clamp(pose);
    const double width = fieldOfViewDegrees(clamped.zoomPercent) * pixelsPerDegree_;
    const double height = outWidth > 0 ? width * outHeight / outWidth : 0;
    return {sceneX(clamped.panDegrees), sceneY(clamped.tiltDegrees), width, height};
}

}  // namespace hollowkit
