#pragma once

// What the bottom bar and the tool rail show, decided from the model's
// published state and the active camera's traits: titles, symbols, tooltips,
// which of two controls stands in a place, tints. Plain values and pure
// functions; the two views lay out and paint these and decide nothing.

#include <string>

#include "lumenhollow/model/published_state.h"
#include "lumenhollow/ui/kit/model_fields.h"

namespace lumenhollow {

// What the views ask of the active camera.
struct CameraTraits {
    bool supportsPositioning = false;
    bool supportsCameraSettings = false;

    bool operator==(const CameraTraits&) const = default;
};

// Why the auto-frame and scenes markers stand in over Wi-Fi.
inline constexpr const char* kNeedsPositioningReason =
    "Over Wi-Fi Lumenhollow cannot steer the gimbal to an exact angle yet, so this would drift. "
    "Connect the camera with USB-C and choose Webcam to use it.";
inline constexpr const char* kLookMenuHelp = "Color look applied to the preview, photos and Mac recordings";
inline constexpr const char* kGuidesRailHelp = "Guides";

struct BottomBarState {
    // The connection menu.
    std::string connectionSymbol;
    std::string connectionTitle;
    // The camera settings button stands next to it, else the format menu.
    bool showsCameraSettings = false;
    std::string formatTitle;
    bool formatEnabled = false;
    // The tool cluster; left out while the rail carries the tools.
    bool showsTools = false;
    std::string guideTitle;
    std::string lookTitle;
    // The auto-frame button is the USB-only marker.
    bool autoFrameNeedsUSB = false;

    bool operator==(const BottomBarState&) const = default;
};

BottomBarState bottomBarState(const PublishedState& state, CameraTraits camera, bool compact, bool railMode);
// The fields bottomBarState reads, the active camera's traits among them.
inline constexpr auto kBottomBarFields = joinFields(
    FieldList<4>{Field::connection, Field::activeFormat, Field::formats, Field::selectedLUT}, kActiveCameraFields);

// The left edge of the connection cluster in the bottom bar: centred in the
// bar, or, where that would cover the menus at the left (ending at
// `leftEnd`) or the circles at the right (starting at `rightStart`), centred
// in the room between them, `spacing` clear of each; with too little room
// even for that, clear of the menus.
double connectionClusterLeft(double barWidth, double clusterWidth, double leftEnd, double rightStart, double spacing);

struct ToolRailState {
    bool guidesActive = false;
    bool lookActive = false;
    std::string lookHelp;
    bool autoFrameNeedsUSB = false;

    bool operator==(const ToolRailState&) const = default;
};

ToolRailState toolRailState(const PublishedState& state, CameraTraits camera);
// The fields toolRailState reads, the active camera's traits among them.
inline constexpr auto kToolRailFields =
    joinFields(FieldList<2>{Field::guides, Field::selectedLUT}, kActiveCameraFields);

// The tooltips that name a key, generated from the keys that really work.
std::string fullScreenHelp();
std::string autoFrameHelp();
std::string recenterHelp();
std::string flipHelp();
std::string outputFolderHelp();

}  // namespace lumenhollow
