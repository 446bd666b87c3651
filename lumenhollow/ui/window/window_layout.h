#pragma once

// What the main window's composition decides, as plain functions of the
// window's size and the model's published state: the width classes the
// chrome follows, the picture's rectangle, the minimum content size, and
// which status overlay covers the picture. No Qt, so they are tested alone.

#include <string>

#include "lumenhollow/model/published_state.h"

namespace lumenhollow {

// Sizes in device-independent pixels.
struct SizeF {
    double width = 0;
    double height = 0;

    bool operator==(const SizeF&) const = default;
};

struct RectF {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const RectF&) const = default;
};

struct WidthClasses {
    bool compact = false;  // the status pill and the bottom bar shorten their texts
    bool rail = false;     // the tools move to the rail at the right edge

    bool operator==(const WidthClasses&) const = default;
};

inline constexpr double kCompactBelowWidth = 1040;
inline constexpr double kRailBelowWidth = 640;
inline constexpr SizeF kLandscapeMinimum{760, 428};
inline constexpr SizeF kPortraitMinimum{420, 747};

// Switch at once, with no hysteresis: a window below 640 is both.
WidthClasses widthClasses(double contentWidth);

// Width over height below 1.
bool isPortrait(double aspect);

// The landscape minimum keeps the window wider than the rail width, so the
// rail appears only with a portrait picture.
SizeF minimumContentSize(double aspect);

// The largest rectangle of `aspect` inside `area`, centred; empty (all zero)
// when the area or the aspect is not positive.
RectF videoRect(SizeF area, double aspect);

// What covers the picture: the camera is off (even with a picture), no live
// picture yet, or nothing.
enum class StatusOverlay { none, cameraOff, connecting };
StatusOverlay statusOverlay(const PublishedState& state);

struct ConnectingOverlayState {
    std::string text;
    bool failed = false;
    // Only on the wireless route: the USB cable is the alternative.
    bool offersUSB = false;

    bool operator==(const ConnectingOverlayState&) const = default;
};
ConnectingOverlayState connectingOverlay(const PublishedState& state);

struct CameraOffOverlayState {
    // The hint warns about Wi-Fi: on USB it would be false, and its button
    // would offer the route already in use.
    bool offersUSB = false;

    bool operator==(const CameraOffOverlayState&) const = default;
};
CameraOffOverlayState cameraOffOverlay(const PublishedState& state);

}  // namespace lumenhollow
