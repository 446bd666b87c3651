#include "lumenhollow/ui/island/notch_geometry.h"

#include <algorithm>
#include <cmath>

namespace lumenhollow::ui {
namespace {

// Halves away from zero, as the sizes are specified.
int roundPoints(double value) { return static_cast<int>(std::round(value)); }

double usableAspect(double aspect) {
    if (!std::isfinite(aspect) || aspect <= 0) return 16.0 / 9.0;
    return aspect;
}

}  // namespace

std::optional<NotchGeometry> chooseNotchGeometry(const std::vector<ScreenInfo>& screens) {
    if (screens.empty()) return std::nullopt;
    const ScreenInfo* chosen = nullptr;
    for (const ScreenInfo& screen : screens) {
        if (screen.notch.topInset > 0) {
            chosen = &screen;
            break;
        }
    }
    if (!chosen) {
        const auto primary = std::find_if(screens.begin(), screens.end(), [](const ScreenInfo& s) { return s.primary; });
        chosen = primary != screens.end() ? &*primary : &screens.front();
    }
    NotchGeometry geometry;
    geometry.screenFrame = chosen->frame;
    geometry.visibleTop = chosen->available.top();
    const ScreenNotch& notch = chosen->notch;
    // An inset without both side areas is a rounded top or a bar, not a notch.
    if (notch.topInset > 0 && notch.leftAreaWidth && notch.rightAreaWidth) {
        geometry.hasNotch = true;
        geometry.notchWidth = chosen->frame.width() - *notch.leftAreaWidth - *notch.rightAreaWidth;
        geometry.notchHeight = notch.topInset;
    }
    return geometry;
}

NotchGeometry fallbackNotchGeometry() {
    NotchGeometry geometry;
    geometry.screenFrame = QRect(0, 0, 1440, 900);
    return geometry;
}

QRect notchPanelFrame(const NotchGeometry& geometry) {
    const QSize panel = NotchSizes::panel;
    const int top = geometry.hasNotch ? geometry.screenFrame.top() : geometry.visibleTop + NotchSizes::belowVisibleTop;
    // The centre of a width-W frame at x is x + W/2 in the continuous sense.
    const int left = geometry.screenFrame.x() + geometry.screenFrame.width() / 2 - panel.width() / 2;
    return QRect(QPoint(left, top), panel);
}

QSize notchIslandSize(const NotchGeometry& geometry, NotchContent content, double aspect, bool expanded) {
    if (!expanded) {
        if (!geometry.hasNotch) return NotchSizes::collapsedWithoutNotch;
        return QSize(geometry.notchWidth + NotchSizes::collapsedBesideNotch, geometry.notchHeight);
    }
    const int band = geometry.hasNotch ? geometry.notchHeight : NotchSizes::topBandWithoutNotch;
    constexpr int kGapUnderBand = 10;
    constexpr int kGapOverControls = 12;
    constexpr int kControlRow = 40;
    constexpr int kBottomPadding = 14;
    if (content == NotchContent::controls) {
        return QSize(NotchSizes::expandedWidth, band + kGapUnderBand + kControlRow + kBottomPadding);
    }
    const double a = usableAspect(aspect);
    const double clamped = std::max(NotchSizes::minAspect, a);
    if (a >= 1) {
        const int previewHeight =
            std::min(NotchSizes::previewMaxHeight, roundPoints(NotchSizes::previewWidth / clamped));
        return QSize(NotchSizes::expandedWidth,
                     band + kGapUnderBand + previewHeight + kGapOverControls + kControlRow + kBottomPadding);
    }
    constexpr int kSidePadding = 16;
    constexpr int kControlColumn = 84;
    const int previewWidth = roundPoints(NotchSizes::portraitPreviewHeight * clamped);
    const int minimum = geometry.hasNotch ? geometry.notchWidth + 244 : 300;
    const int width = std::max(previewWidth + kSidePadding + kGapOverControls + kControlColumn + kSidePadding, minimum);
    return QSize(width, band + kGapUnderBand + NotchSizes::portraitPreviewHeight + kBottomPadding);
}

QRect islandRectInPanel(const QRect& panelFrame, QSize islandSize) {
    const int left = panelFrame.x() + (panelFrame.width() - islandSize.width()) / 2;
    return QRect(QPoint(left, panelFrame.y()), islandSize);
}

QRect islandHoverRect(const QRect& islandRect) {
    const int m = NotchSizes::hoverMargin;
    return islandRect.adjusted(-m, -m, m, m);
}

bool islandHoverContains(const QRect& islandRect, QPoint point) { return islandHoverRect(islandRect).contains(point); }

int islandTitleWidth(const NotchGeometry& geometry, int expandedWidth) {
    if (!geometry.hasNotch) return NotchSizes::titleWidthWithoutNotch;
    return std::max(0, (expandedWidth - geometry.notchWidth) / 2 - 30);
}

}  // namespace lumenhollow::ui
