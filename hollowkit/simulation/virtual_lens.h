#pragma once

// VirtualLens: where a simulated gimbal camera looks in a flat panorama.
// Pan, tilt and zoom pick a window of the scene; degrees map to scene pixels
// linearly (a cylinder-like map, not a true projection: close enough for a
// lens of 80 degrees and simple to reason about in tests). Pan turns right
// and tilt turns up for positive angles, so a positive pan moves the window
// right and what it sees moves left. Pure values, any thread.

#include "hollowkit/camera/camera_types.h"

namespace hollowkit {

// Where the lens points; zoom in percent (100 = 1.0x).
struct LensPose {
    double panDegrees = 0;
    double tiltDegrees = 0;
    int zoomPercent = 100;

    bool operator==(const LensPose&) const = default;
};

// The gimbal's travel and the lens's zoom range: the Pocket's USB control
// ranges.
struct LensLimits {
    double panMinDegrees = -170;
    double panMaxDegrees = 170;
    double tiltMinDegrees = -90;
    double tiltMaxDegrees = 90;
    ZoomRange zoom{100, 400};

    bool operator==(const LensLimits&) const = default;

    LensPose clamp(const LensPose& pose) const;
};

// A rectangle of the scene in scene pixels (x right, y down, corner-based:
// pixel i covers i...i+1), given by its centre.
struct SceneWindow {
    double centerX = 0;
    double centerY = 0;
    double width = 0;
    double height = 0;

    bool operator==(const SceneWindow&) const = default;

    double left() const { return centerX - width / 2; }
    double top() const { return centerY - height / 2; }
    // A scene point as a share of the window, origin top-left (0...1 inside).
    double normalizedX(double sceneX) const { return (sceneX - left()) / width; }
    double normalizedY(double sceneY) const { return (sceneY - top()) / height; }
};

class VirtualLens {
public:
    // The Pocket's lens at zoom 1.0x sees about 80 degrees across (a 20 mm
    // equivalent); zoom divides it.
    static constexpr double kHorizontalFieldOfViewDegrees = 80.0;

    // `centerX`, `centerY`: the scene point seen at pan 0 and tilt 0.
    VirtualLens(double pixelsPerDegree, double centerX, double centerY, LensLimits limits = {});

    const LensLimits& limits() const { return limits_; }
    double pixelsPerDegree() const { return pixelsPerDegree_; }

    // The window seen at `pose` (clamped to the limits) by a picture of
    // outWidth × outHeight: its width is the field of view at that zoom, its
    // height follows the picture's shape.
    SceneWindow window(const LensPose& pose, int outWidth, int outHeight) const;

    // The horizontal field of view at `zoomPercent` (clamped), in degrees.
    double fieldOfViewDegrees(int zoomPercent) const;

    // The scene point in the direction (pan, tilt), not clamped.
    double sceneX(double panDegrees) const { return centerX_ + panDegrees * pixelsPerDegree_; }
    double sceneY(double tiltDegrees) const { return centerY_ - tiltDegrees * pixelsPerDegree_; }

private:
    double pixelsPerDegree_;
    double centerX_;
    double centerY_;
    LensLimits limits_;
};

}  // namespace hollowkit
