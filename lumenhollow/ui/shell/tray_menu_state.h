#pragma once

// What the tray icon and its menu show, as plain functions of MenuFacts: the
// icon's symbol, the status and battery lines, the commands' titles and
// enabled states, and which conditional rows exist. The tray menu applies
// the result and decides nothing itself.
//
// Unlike the "Camera" menu, the tray lets tracking be started without a
// picture; but "Start Recording" and "Take Photo" need one here too: the
// tray is used while the main window is closed, where a refusal's notice
// would never be seen, so a command that can only be refused is greyed.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lumenhollow/ui/shell/camera_menu_state.h"
#include "lumenhollow/ui/shell/menu_facts.h"

namespace lumenhollow {

namespace tray_text {
inline constexpr std::string_view kCameraPrefix = "Osmo Pocket · ";
inline constexpr std::string_view kWireless = "Wireless";
inline constexpr std::string_view kUSB = "USB";
inline constexpr std::string_view kBatteryPrefix = "Camera battery ";
inline constexpr std::string_view kStartTracking = "Start Tracking";
inline constexpr std::string_view kStopTracking = "Stop Tracking";
inline constexpr std::string_view kScenes = "Scenes";
inline constexpr std::string_view kZoomIn = "Zoom In";
inline constexpr std::string_view kZoomOut = "Zoom Out";
inline constexpr std::string_view kNotch = "Notch";
inline constexpr std::string_view kShowLumenhollow = "Show Lumenhollow";
}  // namespace tray_text

// The tray icon's symbol: recording beats a live picture.
std::string_view traySymbol(const MenuFacts& facts);

struct TrayMenuState {
    std::string statusLine;
    std::optional<std::string> batteryLine;  // none: no battery row
    CommandState recording;
    CommandState recordScreen;
    CommandState takePhoto;
    CommandState faceTracking;
    CommandState autoFrame;
    // No scene: no "Scenes" submenu at all.
    std::vector<std::string> sceneTitles;
    bool scenesEnabled = true;
    // The zoom pair exists once the zoom range is known.
    bool zoomItems = false;

    bool operator==(const TrayMenuState&) const = default;
};

TrayMenuState trayMenuState(const MenuFacts& facts);

}  // namespace lumenhollow
