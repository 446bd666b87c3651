#pragma once

// FramingGeometry: the camera's picture as the framing code sees it, the
// field of view across the full width at 1.0x zoom and the picture's aspect.
// FollowerTuning: the face follower's thresholds, smoothing and speed limits.
// Plain values, any thread.

namespace hollowkit {

struct FramingGeometry {
    double horizontalFieldOfView = 70.0;  // degrees across the width at 1.0x
    double aspect = 16.0 / 9.0;           // width / height

    bool operator==(const FramingGeometry&) const = default;

    // Degrees across the height at 1.0x: 39.375 for the defaults.
    double verticalFieldOfView() const { return horizontalFieldOfView / aspect; }
};

// The Osmo Pocket's picture: 70 degrees across a 16:9 frame.
inline constexpr FramingGeometry kDefaultFramingGeometry{};

// Where the follower and auto framing put a face's centre: horizontally
// centred, 38 % of the picture height below the top edge.
inline constexpr double kFramingTargetX = 0.5;
inline constexpr double kFramingTargetY = 0.38;

struct FollowerTuning {
    // A resting follower starts when the face's error exceeds this fraction
    // of the picture; a moving one stops at or below stopThreshold. The gap
    // is the hysteresis that keeps it from dithering around the target.
    double startThreshold = 0.06;
    double stopThreshold = 0.02;
    // Weight of the newest face centre in the exponential smoothing.
    double faceSmoothing = 0.35;
    // Per second: the share of the remaining distance covered per step is
    // approachRate × dt, at most all of it.
    double approachRate = 2.6;
    // Rate limit for pan and for tilt, each axis on its own.
    double maxDegreesPerSecond = 45.0;
    FramingGeometry geometry = kDefaultFramingGeometry;

    bool operator==(const FollowerTuning&) const = default;
};

}  // namespace hollowkit
