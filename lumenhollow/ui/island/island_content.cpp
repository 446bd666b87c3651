#include "lumenhollow/ui/island/island_content.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace lumenhollow::ui {
namespace {

double contentAspect(double aspect) {
    if (!std::isfinite(aspect) || aspect <= 0) return 16.0 / 9.0;
    return aspect;
}

constexpr double kContentSidePadding = 16;
constexpr double kContentGapUnderHeader = 10;
constexpr double kContentGapOverRow = 12;
constexpr double kContentRowHeight = 40;
constexpr double kContentPortraitSpacing = 12;
constexpr double kContentGridWidth = 84;
constexpr double kContentHeaderPadding = 22;

}  // namespace

IslandContentInputs islandContentInputs(const PublishedState& state, double aspect) {
    IslandContentInputs in;
    in.live = state.stats && state.stats->hasPicture;
    in.failure = state.failure;
    in.statusText = state.statusText;
    in.battery = state.battery;
    in.connection = state.connection;
    in.recordingStarted = state.recordingStarted;
    in.faceTracking = state.faceTracking;
    in.trackedFace = state.trackedFace;
    in.content = state.notchContent;
    in.aspect = aspect;
    return in;
}

IslandLeftSlot islandLeftSlot(const IslandContentInputs& in) {
    if (in.recordingStarted) return IslandLeftSlot::recording;
    if (in.faceTracking) return IslandLeftSlot::tracking;
    return IslandLeftSlot::status;
}

const char* islandConnectionSymbol(ConnectionMode mode) {
    return mode == ConnectionMode::usb ? "cable.connector" : "wifi";
}

bool islandRightSlotShowsBattery(const IslandContentInputs& in) { return in.battery.has_value(); }

IslandHeaderTitle islandHeaderTitle(const IslandContentInputs& in) {
    if (in.live) return {QStringLiteral("Osmo Pocket"), true};
    if (in.failure) return {QCoreApplication::translate("NotchView", "Not connected"), false};
    return {QCoreApplication::translate("NotchView", "Connecting"), false};
}

IslandBody islandBody(NotchContent content, double aspect) {
    if (content != NotchContent::preview) return IslandBody::controlsOnly;
    return contentAspect(aspect) < 1 ? IslandBody::portrait : IslandBody::landscape;
}

QSize islandPreviewSize(double aspect) {
    const double a = contentAspect(aspect);
    const double clamped = std::max(NotchSizes::minAspect, a);
    if (a < 1) {
        return QSize(static_cast<int>(std::round(NotchSizes::portraitPreviewHeight * clamped)),
                     NotchSizes::portraitPreviewHeight);
    }
    return QSize(NotchSizes::previewWidth,
                 std::min(NotchSizes::previewMaxHeight, static_cast<int>(std::round(NotchSizes::previewWidth / clamped))));
}

IslandStatusOverlay islandStatusOverlay(const IslandContentInputs& in) {
    if (in.live) return {};
    return {true, !in.failure.has_value(), in.failure.has_value()};
}

IslandExpandedLayout islandExpandedLayout(const NotchGeometry& geometry, QSize island, int titleWidth,
                                          NotchContent content, double aspect) {
    IslandExpandedLayout layout;
    const double band = geometry.hasNotch ? geometry.notchHeight : NotchSizes::topBandWithoutNotch;
    const double width = island.width();
    layout.header = QRectF(kContentHeaderPadding, 0, std::max(0.0, width - 2 * kContentHeaderPadding), band);
    layout.titleWidth = std::max(0, titleWidth);
    layout.body = islandBody(content, aspect);
    const double top = band + kContentGapUnderHeader;
    switch (layout.body) {
        case IslandBody::portrait: {
            const QSize pane = islandPreviewSize(aspect);
            // The pair is centred when the island's minimum width leaves room.
            const double pair = pane.width() + kContentPortraitSpacing + kContentGridWidth;
            const double left = std::max(kContentSidePadding, (width - pair) / 2);
            layout.preview = QRectF(left, top, pane.width(), pane.height());
            layout.controls = QRectF(layout.preview.right() + kContentPortraitSpacing, top, kContentGridWidth,
                                     pane.height());
            break;
        }
        case IslandBody::landscape: {
            const QSize pane = islandPreviewSize(aspect);
            layout.preview = QRectF(kContentSidePadding, top, width - 2 * kContentSidePadding, pane.height());
            layout.controls = QRectF(kContentSidePadding, layout.preview.bottom() + kContentGapOverRow,
                                     width - 2 * kContentSidePadding, kContentRowHeight);
            break;
        }
        case IslandBody::controlsOnly:
            layout.controls = QRectF(kContentSidePadding, top, width - 2 * kContentSidePadding, kContentRowHeight);
            break;
    }
    return layout;
}

}  // namespace lumenhollow::ui
