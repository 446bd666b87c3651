#include "tests/journeys/usb_journey_steps.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "hollowkit/base/command_runner.h"

namespace lumenhollow::journey {
namespace {

// The visible windows of the process, by id.
std::set<std::string> visibleWindows(JourneyDesktop& desktop, pid_t pid) {
    std::string output;
    std::set<std::string> windows;
    if (!xdotool(desktop, {"search", "--onlyvisible", "--pid", std::to_string(pid), ".*"}, &output)) return windows;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) windows.insert(line);
    }
    return windows;
}

std::optional<ScreenRect> geometryOf(JourneyDesktop& desktop, const std::string& window) {
    std::string output;
    if (!xdotool(desktop, {"getwindowgeometry", "--shell", window}, &output)) return std::nullopt;
    ScreenRect rect;
    int found = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        for (const auto& [prefix, field] : {std::pair{"X=", &rect.x}, std::pair{"Y=", &rect.y},
                                            std::pair{"WIDTH=", &rect.width}, std::pair{"HEIGHT=", &rect.height}}) {
            if (line.rfind(prefix, 0) == 0) *field = std::atoi(line.c_str() + std::string(prefix).size()), ++found;
        }
    }
    if (found != 4) return std::nullopt;
    return rect;
}

}  // namespace

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

void markWelcomed(const JourneyDesktop& desktop) {
    const std::filesystem::path folder = desktop.configHome() / "lumenhollow";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "settings.json") << R"({"welcomed": true})";
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

bool xdotool(JourneyDesktop& desktop, const std::vector<std::string>& arguments, std::string* output) {
    const hollowkit::CommandResult result = desktop.x().xdotool(arguments);
    if (output) *output = result.output;
    return result.status == 0;
}

std::vector<uint8_t> grabScreenLuma(JourneyDesktop& desktop, const ScreenRect& region) {
    const std::filesystem::path file = desktop.home() / "grab.gray";
    const hollowkit::CommandResult grabbed = hollowkit::CommandRunner::run(
        "/usr/bin/ffmpeg",
        {"-nostdin", "-v", "error", "-y", "-f", "x11grab", "-video_size",
         std::to_string(region.width) + "x" + std::to_string(region.height), "-i",
         desktop.x().displayName() + "+" + std::to_string(region.x) + "," + std::to_string(region.y), "-frames:v",
         "1", "-pix_fmt", "gray", "-f", "rawvideo", file.string()},
        {}, /*logged=*/false, std::chrono::seconds(60));
    if (grabbed.status != 0) return {};
    const std::string bytes = readText(file);
    return {bytes.begin(), bytes.end()};
}

std::optional<ScreenRect> openPillMenu(JourneyDesktop& desktop, JourneyApp& app, int x, int y) {
    const std::set<std::string> before = visibleWindows(desktop, app.pid());
    if (!app.clickInWindow(x, y)) return std::nullopt;
    std::optional<ScreenRect> menu;
    // The menu is the new window taller than a tooltip.
    waitFor([&] {
        for (const std::string& window : visibleWindows(desktop, app.pid())) {
            if (before.contains(window)) continue;
            const std::optional<ScreenRect> rect = geometryOf(desktop, window);
            if (rect && rect->height > 40) {
                menu = rect;
                return true;
            }
        }
        return false;
    });
    return menu;
}

}  // namespace lumenhollow::journey
