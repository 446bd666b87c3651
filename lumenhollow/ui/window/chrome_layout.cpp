#include "lumenhollow/ui/window/chrome_layout.h"

#include <algorithm>

namespace lumenhollow {

namespace {

using M = ChromeMetrics;

// `size` with its left edge at `x`, centred on the row's middle line.
RectF chromeRowItem(double x, double middle, SizeF size) {
    return RectF{x, middle - size.height / 2, size.width, size.height};
}

RectF chromeRectAt(double x, double bottom, SizeF size) {
    return RectF{x, bottom - size.height, size.width, size.height};
}

}  // namespace

ChromeGeometry chromeLayout(const ChromeInputs& in) {
    const double width = in.window.width;
    const double height = in.window.height;
    const bool rail = in.classes.rail;
    ChromeGeometry g;

    // The top bar: gradient, drag strip, and the row laid over the strip.
    g.topGradient = RectF{0, 0, width, M::kTopBarHeight};
    g.dragArea = RectF{0, 0, width, M::kDragHeight};
    g.showsScenesAndFolder = !rail;
    const SizeF folder{M::kFolderSize, M::kFolderSize};
    double rowHeight = std::max({in.microphone.height, in.statusPill.height, in.settingsMenu.height});
    if (!rail) rowHeight = std::max({rowHeight, in.scenesButton.height, folder.height});
    const double middle = M::kRowTop + rowHeight / 2;

    // From the right, after a flexible gap: the pill, the two buttons
    // outside rail, the settings last, always inside the window.
    double trailing = in.statusPill.width + M::kRowSpacing + in.settingsMenu.width;
    if (!rail) trailing += in.scenesButton.width + M::kRowSpacing + folder.width + M::kRowSpacing;
    const double minGap = rail ? M::kMinGapRail : M::kMinGap;
    double x = width - M::kRowInset - trailing;

    // From the left: the empty slot and the microphone control. The slot
    // stands where another system puts its window buttons and holds nothing
    // here: in a row too crowded for it, it gives its room to the controls.
    const double withSlot = M::kRowInset + M::kButtonSlotWidth + M::kRowSpacing + in.microphone.width +
                            M::kRowSpacing + minGap + M::kRowSpacing;
    const double slotWidth = withSlot <= x ? M::kButtonSlotWidth : 0;
    g.microphoneRoom = std::max(0.0, x - M::kRowSpacing - minGap - M::kRowSpacing - M::kRowInset);
    g.buttonSlot = RectF{M::kRowInset, middle - 0.5, slotWidth, 1};
    const double micX = slotWidth > 0 ? g.buttonSlot.x + slotWidth + M::kRowSpacing : M::kRowInset;
    g.microphone = chromeRowItem(micX, middle, in.microphone);

    g.statusPill = chromeRowItem(x, middle, in.statusPill);
    x += in.statusPill.width + M::kRowSpacing;
    if (!rail) {
        g.scenesButton = chromeRowItem(x, middle, in.scenesButton);
        x += in.scenesButton.width + M::kRowSpacing;
        g.folderButton = chromeRowItem(x, middle, folder);
        x += folder.width + M::kRowSpacing;
    }
    g.settingsMenu = chromeRowItem(x, middle, in.settingsMenu);

    double below = M::kTopBarHeight;
    if (in.toast) {
        g.toast = RectF{(width - in.toast->width) / 2, below + M::kToastGap, in.toast->width, in.toast->height};
        below = g.toast->y + g.toast->height;
    }

    // The bottom area, built upwards from the bottom edge.
    const double inner = std::max(0.0, width - 2 * M::kBottomPadding);
    const double right = width - M::kBottomPadding;
    const double barWidth = in.bottomBarFillsWidth ? inner : std::min(in.bottomBar.width, inner);
    g.bottomBar = chromeRectAt((width - barWidth) / 2, height - M::kBottomPadding,
                               SizeF{barWidth, in.bottomBar.height});
    const double rowBottom = g.bottomBar.y - M::kBottomSpacing;
    double contentTop = 0;
    if (rail) {
        // The capture controls get their own row above the bar.
        g.capture = chromeRectAt((width - in.capture.width) / 2, rowBottom, in.capture);
        const double pairBottom = g.capture.y - M::kBottomSpacing;
        g.zoom = chromeRectAt(M::kBottomPadding, pairBottom - M::kAboveRowBottom, in.zoom);
        g.joystick = chromeRectAt(right - in.joystick.width, pairBottom, in.joystick);
        contentTop = std::min(g.zoom.y, g.joystick.y);
    } else {
        // One line: the capture controls centred between zoom and joystick.
        g.zoom = chromeRectAt(M::kBottomPadding, rowBottom - M::kAboveRowBottom, in.zoom);
        g.joystick = chromeRectAt(right - in.joystick.width, rowBottom, in.joystick);
        g.capture = chromeRectAt((width - in.capture.width) / 2, rowBottom - M::kAboveRowBottom, in.capture);
        contentTop = std::min({g.zoom.y, g.joystick.y, g.capture.y});
    }
    const double gradientHeight = rail ? M::kBottomHeightRail : M::kBottomHeight;
    const double areaHeight = std::max(gradientHeight, height - (contentTop - M::kBottomPadding));
    g.bottomArea = RectF{0, height - areaHeight, width, areaHeight};
    g.bottomGradient = RectF{0, height - gradientHeight, width, gradientHeight};

    // The rail sits centred between what is above and the bottom area,
    // with at least the minimum space on either side.
    if (rail) {
        const SizeF size = in.toolRail;
        const double free = g.bottomArea.y - below - 2 * M::kMiddleMinSpace - size.height;
        double y = below + M::kMiddleMinSpace + std::max(0.0, free) / 2;
        // Short of room it stays clear of the joystick under it and of the
        // top row above it; the toast, which only draws, may be covered.
        y = std::min(y, contentTop - M::kMiddleMinSpace - size.height);
        y = std::max(y, middle + rowHeight / 2 + M::kMiddleMinSpace);
        g.toolRail = RectF{width - M::kRailTrailing - size.width, y, size.width, size.height};
    }
    return g;
}

ToastPlacement toastPlacement(const RectF& rest, double progress) {
    const double p = std::clamp(progress, 0.0, 1.0);
    // Fully out means its bottom edge at the window's top edge.
    const double travel = rest.y + rest.height;
    RectF rect = rest;
    rect.y = rest.y - (1 - p) * travel;
    return ToastPlacement{rect, p};
}

}  // namespace lumenhollow
