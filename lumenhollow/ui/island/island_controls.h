#pragma once

// The open island's controls: which exist, in which order, with which
// symbol, tint, help text and enabled state, for the two arrangements (the
// grid beside a tall picture, the row under a wide one or alone), and where
// each goes. The row is laid out here by hand so that its widest case (every
// button, three scene chips and the zoom stepper) still fits its band
// without two controls overlapping. Plain values and functions; any thread.

#include <QRectF>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "hollowkit/camera/camera_types.h"
#include "lumenhollow/model/camera_scene.h"

namespace lumenhollow::ui {

enum class IslandControl {
    record,
    photo,
    tracking,
    frame,
    centre,
    zoomIn,
    zoomOut,
    sceneChip,
    spacer,
    zoomStepper,
    pin,
    mainWindow,
};

struct IslandControlInputs {
    bool hasPicture = false;
    bool recording = false;
    bool faceTracking = false;
    bool zoomKnown = false;
    bool supportsPositioning = false;
    bool pinned = false;
    std::vector<std::string> sceneNames;  // in list order
    bool operator==(const IslandControlInputs&) const = default;
};

struct IslandControlItem {
    IslandControl kind = IslandControl::spacer;
    std::string symbol;   // empty for the record button, chips, spacer and stepper
    QString help;
    bool enabled = true;
    bool accentTint = false;    // the application's accent
    bool platformTint = false;  // the platform accent (the pin while pinned)
    int sceneIndex = -1;        // chips only
    bool operator==(const IslandControlItem&) const = default;
};

// The help text of the record button, with the record shortcut.
QString islandRecordHelp(bool recording);
// Whether the record button takes clicks: with a picture, or to stop a recording.
bool islandRecordEnabled(bool hasPicture, bool recording);

std::vector<IslandControlItem> islandGridControls(const IslandControlInputs& in);
std::vector<IslandControlItem> islandRowControls(const IslandControlInputs& in);

// The size each control takes.
double islandControlWidth(IslandControl kind);
double islandControlHeight(IslandControl kind);

// The row's items from leading to trailing in `band`: the spacer pushes the
// ones after it to the trailing end. A row wider than its band may use up
// to 6 points of the island's side padding on each side, then closes its
// gaps (never below 2). The spacer's rectangle is the gap it fills.
std::vector<QRectF> islandRowLayout(const std::vector<IslandControlItem>& items, const QRectF& band);
// The grid's cells in reading order: two 36-point columns 10 apart, rows
// 10 apart, centred in `column`, from its top.
std::vector<QRectF> islandGridLayout(const std::vector<IslandControlItem>& items, const QRectF& column);

}  // namespace lumenhollow::ui
