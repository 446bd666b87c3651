#pragma once

// NotchGeometry: the screen the island lives on and that screen's notch,
// with the pure rules that turn it into the panel's frame and the island's
// size. Qt's global coordinates (y grows downwards), logical pixels.
// Plain values and functions; any thread.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

#include "lumenhollow/model/model_types.h"

namespace lumenhollow::ui {

// What a screen says about a notch in its top edge: the top inset and the
// widths of the menu-bar areas left and right of it (absent when the screen
// reports none).
struct ScreenNotch {
    int topInset = 0;
    std::optional<int> leftAreaWidth;
    std::optional<int> rightAreaWidth;
    bool operator==(const ScreenNotch&) const = default;
};

// One screen as the island sees it.
struct ScreenInfo {
    QString name;
    QRect frame;
    QRect available;  // the frame less panels and bars
    bool primary = false;
    ScreenNotch notch;
};

struct NotchGeometry {
    QRect screenFrame;
    int visibleTop = 0;  // the top edge of the screen's available area
    bool hasNotch = false;
    int notchWidth = 0;
    int notchHeight = 0;
    bool operator==(const NotchGeometry&) const = default;
};

struct NotchSizes {
    static constexpr QSize panel{600, 460};
    static constexpr int belowVisibleTop = 6;  // the gap under a panel or menu bar
    static constexpr int hoverMargin = 6;      // the hover rectangle's growth on each side
    static constexpr QSize collapsedWithoutNotch{210, 30};
    static constexpr int collapsedBesideNotch = 156;
    static constexpr int topBandWithoutNotch = 30;
    static constexpr int expandedWidth = 520;
    static constexpr int previewWidth = 488;
    static constexpr int previewMaxHeight = 300;
    static constexpr int portraitPreviewHeight = 392;
    static constexpr double minAspect = 0.3;
    static constexpr int titleWidthWithoutNotch = 220;
};

// The screen the island belongs on: the first with a top inset, else the
// primary, else the first. None when there is no screen at all.
std::optional<NotchGeometry> chooseNotchGeometry(const std::vector<ScreenInfo>& screens);

// When no screen has ever been seen: a plain screen of a common size.
NotchGeometry fallbackNotchGeometry();

// The 600x460 panel centred on the screen's middle, its top on the screen's
// top edge with a notch and 6 px below the available area's top otherwise.
QRect notchPanelFrame(const NotchGeometry& geometry);

// The island's size for the geometry, what the island shows and the
// camera's picture aspect (width / height; a bad value counts as 16:9).
QSize notchIslandSize(const NotchGeometry& geometry, NotchContent content, double aspect, bool expanded);

// The island inside the panel: centred, hanging from the panel's top edge.
QRect islandRectInPanel(const QRect& panelFrame, QSize islandSize);

// The island grown by the hover margin, and whether `point` is within it.
QRect islandHoverRect(const QRect& islandRect);
bool islandHoverContains(const QRect& islandRect, QPoint point);

// The widest the expanded header's title may become so it stays left of
// the notch; never negative.
int islandTitleWidth(const NotchGeometry& geometry, int expandedWidth);

}  // namespace lumenhollow::ui
