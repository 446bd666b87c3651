#include "lumenhollow/ui/shell/tray_menu_state.h"

namespace lumenhollow {

namespace {

constexpr std::string_view kTrayRecordingSymbol = "record.circle.fill";
constexpr std::string_view kTrayPictureSymbol = "video.fill";
constexpr std::string_view kTrayNoPictureSymbol = "video";

std::string trayTitle(std::string_view text) { return std::string(text); }

}  // namespace

std::string_view traySymbol(const MenuFacts& facts) {
    if (facts.recording) return kTrayRecordingSymbol;
    return facts.livePicture ? kTrayPictureSymbol : kTrayNoPictureSymbol;
}

TrayMenuState trayMenuState(const MenuFacts& facts) {
    TrayMenuState menu;
    if (facts.livePicture) {
        menu.statusLine = trayTitle(tray_text::kCameraPrefix) +
                          trayTitle(facts.connection == ConnectionMode::wireless ? tray_text::kWireless : tray_text::kUSB);
    } else {
        menu.statusLine = facts.statusText;
    }
    if (facts.batteryPercent) {
        menu.batteryLine = trayTitle(tray_text::kBatteryPrefix) + std::to_string(*facts.batteryPercent) + "%";
    }
    menu.recording = facts.recording ? CommandState{trayTitle(menu_text::kStopRecording), true}
                                     : CommandState{trayTitle(menu_text::kStartRecording), facts.livePicture};
    menu.recordScreen = {trayTitle(menu_text::kRecordScreenToo), !facts.busy, facts.recordScreen};
    menu.takePhoto = {trayTitle(menu_text::kTakePhoto), facts.livePicture};
    menu.faceTracking = {trayTitle(facts.faceTracking ? tray_text::kStopTracking : tray_text::kStartTracking),
                         facts.positioning};
    menu.autoFrame = {trayTitle(menu_text::kAutoFrame), facts.positioning};
    menu.sceneTitles = facts.sceneNames;
    menu.scenesEnabled = facts.positioning;
    menu.zoomItems = facts.zoomRangeKnown;
    return menu;
}

}  // namespace lumenhollow
