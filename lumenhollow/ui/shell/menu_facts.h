#pragma once

// MenuFacts: the few things the menu bar's "Camera" menu and the tray menu
// decide from, read from the camera model in one place so both menus judge
// "live picture" and "positioning" alike. A plain value: the decisions that
// take it are tested without widgets. Main executor only (reads the model).

#include <optional>
#include <string>
#include <vector>

#include "lumenhollow/model/model_types.h"
#include "lumenhollow/ui/kit/model_fields.h"

namespace lumenhollow {

class CameraModel;

struct MenuFacts {
    // Statistics are present and say the camera delivers a picture.
    bool livePicture = false;
    // The active camera reports and takes exact positions (USB).
    bool positioning = false;
    bool recording = false;
    // Recording, a screen take starting or a take being composed.
    bool busy = false;
    bool faceTracking = false;
    bool recordScreen = false;
    bool canCheckForUpdates = false;
    ConnectionMode connection = ConnectionMode::wireless;
    std::string statusText;
    std::optional<int> batteryPercent;
    bool zoomRangeKnown = false;
    // In stored order.
    std::vector<std::string> sceneNames;

    bool operator==(const MenuFacts&) const = default;
};

// The facts as `model` holds them now.
MenuFacts menuFacts(CameraModel& model, bool canCheckForUpdates);
// The fields the facts are read from, the active camera's traits among
// them; the menus that judge from the facts listen to these.
inline constexpr auto kMenuFactsFields = joinFields(
    FieldList<9>{Field::stats, Field::recordingStarted, Field::isStartingScreen, Field::composeProgress,
                 Field::faceTracking, Field::recordScreen, Field::battery, Field::zoomRange, Field::scenes},
    kActiveCameraFields);

}  // namespace lumenhollow
