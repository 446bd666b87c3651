#include "lumenhollow/ui/island/island_controls.h"

#include <QCoreApplication>

#include <algorithm>

#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow::ui {
namespace {

constexpr double kControlsSpacing = 8;
constexpr double kControlsMinSpacing = 2;
constexpr double kControlsBorrowedPadding = 6;
constexpr double kControlsGridColumn = 36;
constexpr double kControlsGridGap = 10;

QString controlsText(const char* text) { return QCoreApplication::translate("NotchView", text); }

QString controlsHelp(const char* text, const QKeySequence& keys) {
    return QString::fromStdString(withShortcut(controlsText(text).toStdString(), keys));
}

// The controls both arrangements lead with.
void addLeadingControls(std::vector<IslandControlItem>& items, const IslandControlInputs& in) {
    items.push_back({IslandControl::record, {}, islandRecordHelp(in.recording),
                     islandRecordEnabled(in.hasPicture, in.recording)});
    items.push_back({IslandControl::photo, "camera.fill", controlsHelp("Snapshot", photoShortcut()), in.hasPicture});
    IslandControlItem tracking{IslandControl::tracking, "person.fill.viewfinder",
                               controlsHelp("Tracking", faceTrackingShortcut()), in.supportsPositioning};
    tracking.accentTint = in.faceTracking;
    items.push_back(tracking);
    items.push_back({IslandControl::frame, "crop", controlsHelp("Frame", autoFrameShortcut()), in.supportsPositioning});
    items.push_back({IslandControl::centre, "scope", controlsHelp("Center", recenterKey()), true});
}

void addTrailingControls(std::vector<IslandControlItem>& items, const IslandControlInputs& in) {
    IslandControlItem pin{IslandControl::pin, in.pinned ? "pin.fill" : "pin",
                          in.pinned ? controlsText("Unpin") : controlsText("Keep open"), true};
    pin.platformTint = in.pinned;
    items.push_back(pin);
    items.push_back({IslandControl::mainWindow, "macwindow", controlsText("Open the Lumenhollow window"), true});
}

}  // namespace

QString islandRecordHelp(bool recording) {
    return controlsHelp(recording ? "Stop recording" : "Record", recordShortcut());
}

bool islandRecordEnabled(bool hasPicture, bool recording) { return hasPicture || recording; }

std::vector<IslandControlItem> islandGridControls(const IslandControlInputs& in) {
    std::vector<IslandControlItem> items;
    addLeadingControls(items, in);
    if (in.zoomKnown) {
        items.push_back({IslandControl::zoomIn, "plus.magnifyingglass", controlsText("Zoom in"), true});
        items.push_back({IslandControl::zoomOut, "minus.magnifyingglass", controlsText("Zoom out"), true});
    }
    addTrailingControls(items, in);
    return items;
}

std::vector<IslandControlItem> islandRowControls(const IslandControlInputs& in) {
    std::vector<IslandControlItem> items;
    addLeadingControls(items, in);
    if (in.supportsPositioning) {
        const int count = std::min<int>(3, static_cast<int>(in.sceneNames.size()));
        for (int i = 0; i < count; ++i) {
            IslandControlItem chip{IslandControl::sceneChip, {}, QString::fromStdString(in.sceneNames[i]), true};
            chip.sceneIndex = i;
            items.push_back(chip);
        }
    }
    items.push_back({IslandControl::spacer, {}, {}, true});
    if (in.zoomKnown) items.push_back({IslandControl::zoomStepper, {}, {}, true});
    addTrailingControls(items, in);
    return items;
}

double islandControlWidth(IslandControl kind) {
    switch (kind) {
        case IslandControl::record: return 36;
        case IslandControl::sceneChip: return 30;
        case IslandControl::spacer: return 0;
        case IslandControl::zoomStepper: return 4 + 22 + 2 + 32 + 2 + 22 + 4;
        default: return 32;
    }
}

double islandControlHeight(IslandControl kind) {
    switch (kind) {
        case IslandControl::record: return 36;
        case IslandControl::sceneChip:
        case IslandControl::zoomStepper: return 30;
        case IslandControl::spacer: return 0;
        default: return 32;
    }
}

std::vector<QRectF> islandRowLayout(const std::vector<IslandControlItem>& items, const QRectF& band) {
    std::vector<QRectF> rects(items.size());
    if (items.empty()) return rects;
    double fixed = 0;
    for (const IslandControlItem& item : items) fixed += islandControlWidth(item.kind);
    const double gaps = static_cast<double>(items.size() - 1);
    double spacing = kControlsSpacing;
    QRectF area = band;
    const double overflow = fixed + gaps * spacing - band.width();
    if (overflow > 0) {
        const double borrow = std::min(kControlsBorrowedPadding, overflow / 2);
        area = band.adjusted(-borrow, 0, borrow, 0);
        const double still = fixed + gaps * spacing - area.width();
        if (still > 0 && gaps > 0) spacing = std::max(kControlsMinSpacing, spacing - still / gaps);
    }
    const double slack = std::max(0.0, area.width() - fixed - gaps * spacing);
    double x = area.left();
    for (size_t i = 0; i < items.size(); ++i) {
        const IslandControl kind = items[i].kind;
        const double w = kind == IslandControl::spacer ? slack : islandControlWidth(kind);
        const double h = kind == IslandControl::spacer ? area.height() : islandControlHeight(kind);
        rects[i] = QRectF(x, area.center().y() - h / 2, w, h);
        x += w + spacing;
    }
    return rects;
}

std::vector<QRectF> islandGridLayout(const std::vector<IslandControlItem>& items, const QRectF& column) {
    std::vector<QRectF> rects(items.size());
    const double left = column.center().x() - (2 * kControlsGridColumn + kControlsGridGap) / 2;
    double rowTop = column.top();
    for (size_t i = 0; i < items.size(); i += 2) {
        double rowHeight = 0;
        for (size_t j = i; j < std::min(items.size(), i + 2); ++j) {
            rowHeight = std::max(rowHeight, islandControlHeight(items[j].kind));
        }
        for (size_t j = i; j < std::min(items.size(), i + 2); ++j) {
            const double w = islandControlWidth(items[j].kind);
            const double h = islandControlHeight(items[j].kind);
            const double cellLeft = left + static_cast<double>(j - i) * (kControlsGridColumn + kControlsGridGap);
            rects[j] = QRectF(cellLeft + (kControlsGridColumn - w) / 2, rowTop + (rowHeight - h) / 2, w, h);
        }
        rowTop += rowHeight + kControlsGridGap;
    }
    return rects;
}

}  // namespace lumenhollow::ui
