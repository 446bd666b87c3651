#include "tests/journeys/usb_journey_steps.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <set>

#include "hollowkit/base/command_runner.h"

namespace lumenhollow::journey {

std::optional<ReportedPose> poseOf(const nlohmann::json& report) {
    if (!report.is_object() || !report.contains("pose") || !report["pose"].is_object()) return std::nullopt;
    const nlohmann::json& pose = report["pose"];
    return ReportedPose{pose.value("pan", 0.0), pose.value("tilt", 0.0), pose.value("zoom", 0.0)};
}

std::string describe(const ReportedPose& pose) {
    char text[96];
    std::snprintf(text, sizeof text, "pan %.2f tilt %.2f zoom %.0f", pose.pan, pose.tilt, pose.zoom);
    return text;
}

std::optional<ReportedPose> settledPose(JourneyApp& app, std::chrono::milliseconds limit) {
    constexpr uint64_t kStillReports = 8;
    constexpr double kStillDegrees = 0.01;
    std::optional<ReportedPose> last;
    uint64_t stillSince = 0;
    const bool settled = app.waitForState(
        [&](const nlohmann::json& report) {
            const std::optional<ReportedPose> pose = poseOf(report);
            const uint64_t sample = report.value("sample", uint64_t{0});
            if (!pose) return false;
            if (!last || std::abs(pose->pan - last->pan) > kStillDegrees ||
                std::abs(pose->tilt - last->tilt) > kStillDegrees || pose->zoom != last->zoom) {
                last = pose;
                stillSince = sample;
                return false;
            }
            return sample >= stillSince + kStillReports;
        },
        limit);
    return settled ? last : std::nullopt;
}

PocketSoundSource addPocketSoundSource(JourneyDesktop& desktop) {
    const hollowkit::CommandResult loaded = desktop.pulse().pactl(
        {"load-module", "module-remap-source", "source_name=pocket_usb_microphone",
         std::string("master=") + hollowkit::PrivatePulseServer::kNullSinkMonitor,
         std::string("source_properties='device.description=\"") + kPocketSoundName +
             "\" device.vendor.id=2ca3 device.bus=usb'"});
    if (loaded.status != 0 || loaded.output.empty()) return {std::nullopt, loaded.output};
    return {loaded.output, ""};
}

std::optional<ScreenRect> openPillMenu(JourneyDesktop& desktop, JourneyApp& app, int x, int y) {
    std::set<std::string> before;
    for (const ScreenWindow& window : visibleWindows(desktop, app.pid())) before.insert(window.id);
    if (!app.clickInWindow(x, y)) return std::nullopt;
    std::optional<ScreenRect> menu;
    // The menu is the new window taller than a tooltip.
    waitFor([&] {
        for (const ScreenWindow& window : visibleWindows(desktop, app.pid())) {
            if (!before.contains(window.id) && window.rect.height > 40) {
                menu = window.rect;
                return true;
            }
        }
        return false;
    });
    return menu;
}

}  // namespace lumenhollow::journey
