#pragma once

// Where the window's controls go, as a plain function of the window's size,
// its width classes and the sizes the controls ask for: the top bar with its
// row of controls, the notice toast under it, the tool rail at the right
// edge (rail only) and the bottom area with its rows. No Qt, so every rule
// is tested without widgets; the chrome column only applies the result.

#include <optional>

#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {

struct ChromeMetrics {
    static constexpr double kTopBarHeight = 90;        // the darkening gradient; the bar's height
    static constexpr double kTopGradientOpacity = 0.45;
    static constexpr double kDragHeight = 40;
    static constexpr double kRowInset = 12;            // left and right of the top row
    static constexpr double kRowTop = 8;
    static constexpr double kRowSpacing = 8;
    static constexpr double kButtonSlotWidth = 64;     // where another system's window buttons would sit
    static constexpr double kMinGapRail = 8;
    static constexpr double kMinGap = 12;
    static constexpr double kFolderSize = 30;
    static constexpr double kToastGap = 6;
    static constexpr double kMiddleMinSpace = 8;
    static constexpr double kRailTrailing = 12;
    static constexpr double kToolRailSize = 34;
    static constexpr double kBottomHeight = 210;
    static constexpr double kBottomHeightRail = 260;
    static constexpr double kBottomGradientOpacity = 0.5;
    static constexpr double kBottomPadding = 12;
    static constexpr double kBottomSpacing = 12;
    static constexpr double kAboveRowBottom = 5;       // under the zoom control and the capture controls
    static constexpr double kJoystickDiameter = 96;
    static constexpr double kJoystickKnob = 30;
    // The heights of the rail, the capture controls and the bottom bar.
    static constexpr double kToolRailHeight = 326;
    static constexpr double kCaptureHeight = 40;
    static constexpr double kBottomBarHeight = 50;
};

// The smallest window in which every control fits, for the rail's
// arrangement (narrower than the rail width) and the wide one. The rail
// needs its height between the top bar and the bottom area's rows; the wide
// arrangement fits from the rail width on, 16:9 of which is its height.
// The sizer raises smaller shapes to these (a portrait picture on a screen
// too short for the rail takes the wide width).
inline constexpr SizeF kRailFloor{
    kPortraitMinimum.width,
    ChromeMetrics::kTopBarHeight + 2 * ChromeMetrics::kMiddleMinSpace + ChromeMetrics::kToolRailHeight +
        ChromeMetrics::kJoystickDiameter + 2 * ChromeMetrics::kBottomSpacing + ChromeMetrics::kCaptureHeight +
        ChromeMetrics::kBottomBarHeight + ChromeMetrics::kBottomPadding};
inline constexpr SizeF kWideFloor{kRailBelowWidth, kRailBelowWidth * 9.0 / 16.0};
// The wide arrangement's least height, where the screen has no room for its
// floor: the top bar and the bottom area one above the other hold every one
// of its controls. A picture on a screen too short for its shape under the
// island's strip gets bars beside it rather than a window over the strip.
inline constexpr double kWideShortestHeight = ChromeMetrics::kTopBarHeight + ChromeMetrics::kBottomHeight;

// The sizes the controls ask for.
struct ChromeInputs {
    SizeF window;
    WidthClasses classes;
    SizeF microphone;
    SizeF statusPill;
    SizeF scenesButton;
    SizeF settingsMenu;
    std::optional<SizeF> toast;  // while a notice is shown
    SizeF toolRail;
    SizeF zoom;
    SizeF capture;
    SizeF joystick;
    SizeF bottomBar;
    bool bottomBarFillsWidth = false;  // takes the whole width between the paddings
};

// Rectangles in the window's coordinates. The top row's lie inside the drag
// strip, which starts at the window's origin.
struct ChromeGeometry {
    RectF topGradient;
    RectF dragArea;
    RectF buttonSlot;  // zero wide when the row has no room for it
    RectF microphone;
    // The widest the microphone control may be: what the row leaves it
    // without the empty slot. A wider one takes a narrower face.
    double microphoneRoom = 0;
    RectF statusPill;
    bool showsScenesAndFolder = false;  // outside rail only
    RectF scenesButton;
    RectF folderButton;
    RectF settingsMenu;
    std::optional<RectF> toast;
    std::optional<RectF> toolRail;  // rail only
    RectF bottomGradient;
    RectF bottomArea;  // the gradient and the rows together
    RectF zoom;
    RectF capture;
    RectF joystick;
    RectF bottomBar;

    bool operator==(const ChromeGeometry&) const = default;
};

ChromeGeometry chromeLayout(const ChromeInputs& in);

// The toast on its way in or out: at `progress` 0 it sits just above the
// window's top edge, fully transparent; at 1 it rests at `rest`, opaque.
struct ToastPlacement {
    RectF rect;
    double opacity = 1;

    bool operator==(const ToastPlacement&) const = default;
};
ToastPlacement toastPlacement(const RectF& rest, double progress);

}  // namespace lumenhollow
