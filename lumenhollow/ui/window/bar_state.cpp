#include "lumenhollow/ui/window/bar_state.h"

#include <algorithm>

#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow {

namespace {

constexpr const char* kConnectionTitlePrefix = "Osmo Pocket \u00B7 ";
constexpr const char* kNoFormatUSBTitle = "Format";
constexpr const char* kNoFormatWirelessTitle = "720p Preview";
constexpr const char* kGuidePillTitle = "Guide";
constexpr const char* kNoLookPillTitle = "LUT";
constexpr const char* kLookRailPrefix = "Look: ";
constexpr const char* kNoLookRailHelp = "Color look";

}  // namespace

BottomBarState bottomBarState(const PublishedState& state, CameraTraits camera, bool compact, bool railMode) {
    BottomBarState bar;
    const bool usb = state.connection == ConnectionMode::usb;
    bar.connectionSymbol = usb ? "cable.connector" : "wifi";
    const std::string route(toString(state.connection));
    bar.connectionTitle = compact ? route : kConnectionTitlePrefix + route;
    bar.showsCameraSettings = camera.supportsCameraSettings;
    if (state.activeFormat) {
        bar.formatTitle = state.activeFormat->description();
    } else {
        bar.formatTitle = usb ? kNoFormatUSBTitle : kNoFormatWirelessTitle;
    }
    bar.formatEnabled = !state.formats.empty();
    bar.showsTools = !railMode;
    bar.guideTitle = compact ? std::string() : kGuidePillTitle;
    bar.lookTitle = state.selectedLUT ? state.selectedLUT->name : kNoLookPillTitle;
    bar.autoFrameNeedsUSB = !camera.supportsPositioning;
    return bar;
}

ToolRailState toolRailState(const PublishedState& state, CameraTraits camera) {
    ToolRailState rail;
    rail.guidesActive = !state.guides.empty();
    rail.lookActive = state.selectedLUT.has_value();
    rail.lookHelp = state.selectedLUT ? kLookRailPrefix + state.selectedLUT->name : kNoLookRailHelp;
    rail.autoFrameNeedsUSB = !camera.supportsPositioning;
    return rail;
}

std::string fullScreenHelp() { return ui::withShortcut("Full screen", ui::fullScreenShortcut()); }
std::string autoFrameHelp() { return ui::withShortcut("Auto frame", ui::autoFrameShortcut()); }
std::string recenterHelp() { return ui::withShortcut("Center the gimbal", ui::recenterKey()); }
std::string flipHelp() { return ui::withShortcut("Flip to face you", ui::flipShortcut()); }
std::string outputFolderHelp() { return ui::withShortcut("Open the output folder", ui::outputFolderShortcut()); }

double connectionClusterLeft(double barWidth, double clusterWidth, double leftEnd, double rightStart, double spacing) {
    const double centred = (barWidth - clusterWidth) / 2;
    const double from = leftEnd + spacing;
    const double to = rightStart - spacing;
    if (centred >= from && centred + clusterWidth <= to) return centred;
    return std::max(from, from + (to - from - clusterWidth) / 2);
}

}  // namespace lumenhollow
