#include "tests/journeys/wireless_journey_steps.h"

#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include <xcb/xcb.h>

#include <algorithm>
#include <numeric>

#include "hollowkit/base/command_runner.h"

namespace lumenhollow::journey {

nlohmann::json simulator(const nlohmann::json& report) {
    if (report.is_object() && report.contains("simulator") && report["simulator"].is_object()) {
        return report["simulator"];
    }
    return nlohmann::json::object();
}

bool pairAndGoLive(JourneyApp& app, std::string& why) {
    // A fresh home: no pairing stored, so the camera must be asked.
    if (!app.waitForState([](const nlohmann::json& s) { return s["status"] == kApprovePairingStatus; }, 60s)) {
        why = "the application never asked for the pairing to be approved; " + app.describe();
        return false;
    }
    if (simulator(app.state()).value("paired", true)) {
        why = "the camera counted the pairing as approved before anyone approved it";
        return false;
    }
    app.signal(SIGUSR1);
    if (!app.waitForState(
            [](const nlohmann::json& s) {
                return s["picture"] == true && s["connection"] == "wireless" && simulator(s).value("liveView", false);
            },
            60s)) {
        why = "no live picture after the pairing was approved; " + app.describe();
        return false;
    }
    return true;
}

std::vector<std::pair<std::string, ScreenRect>> visibleWindows(JourneyDesktop& desktop, pid_t pid) {
    std::vector<std::pair<std::string, ScreenRect>> windows;
    const hollowkit::CommandResult found =
        desktop.x().xdotool({"search", "--onlyvisible", "--pid", std::to_string(pid), "--name", ""});
    std::istringstream ids(found.output);
    for (std::string id; std::getline(ids, id);) {
        const hollowkit::CommandResult geometry = desktop.x().xdotool({"getwindowgeometry", "--shell", id});
        if (geometry.status != 0) continue;
        ScreenRect rect;
        std::istringstream lines(geometry.output);
        for (std::string line; std::getline(lines, line);) {
            const auto value = [&line](const char* key) {
                return line.rfind(key, 0) == 0 ? std::optional<int>(std::atoi(line.c_str() + std::strlen(key)))
                                               : std::nullopt;
            };
            if (auto v = value("X=")) rect.x = *v;
            if (auto v = value("Y=")) rect.y = *v;
            if (auto v = value("WIDTH=")) rect.width = *v;
            if (auto v = value("HEIGHT=")) rect.height = *v;
        }
        windows.emplace_back(id, rect);
    }
    return windows;
}

std::optional<ScreenRect> visibleWindowOfWidth(JourneyDesktop& desktop, pid_t pid, int width) {
    for (const auto& [id, rect] : visibleWindows(desktop, pid)) {
        if (rect.width == width) return rect;
    }
    return std::nullopt;
}

std::vector<uint8_t> captureBrightness(JourneyDesktop& desktop, const ScreenRect& rect) {
    std::vector<uint8_t> brightness;
    xcb_connection_t* connection = xcb_connect(desktop.x().displayName().c_str(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return brightness;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, static_cast<int16_t>(rect.x),
                      static_cast<int16_t>(rect.y), static_cast<uint16_t>(rect.width),
                      static_cast<uint16_t>(rect.height), ~0u),
        nullptr);
    // A 24-bit screen holds each pixel in four bytes: blue, green, red, unused.
    if (image && image->depth == 24 &&
        xcb_get_image_data_length(image) >= rect.width * rect.height * 4) {
        const uint8_t* pixels = xcb_get_image_data(image);
        brightness.reserve(static_cast<size_t>(rect.width * rect.height));
        for (int i = 0; i < rect.width * rect.height; ++i) {
            const uint8_t* p = pixels + i * 4;
            brightness.push_back(static_cast<uint8_t>((p[2] * 299 + p[1] * 587 + p[0] * 114) / 1000));
        }
    }
    std::free(image);
    xcb_disconnect(connection);
    return brightness;
}

double shareAtLeast(const std::vector<uint8_t>& brightness, uint8_t threshold) {
    if (brightness.empty()) return 0;
    const auto count = std::count_if(brightness.begin(), brightness.end(), [threshold](uint8_t b) { return b >= threshold; });
    return static_cast<double>(count) / static_cast<double>(brightness.size());
}

double meanOf(const std::vector<uint8_t>& brightness) {
    if (brightness.empty()) return 0;
    return std::accumulate(brightness.begin(), brightness.end(), 0.0) / static_cast<double>(brightness.size());
}

std::optional<ProbedMovie> probeMovie(const std::filesystem::path& movie) {
    // Generous: a loaded machine has been seen to take half a minute for a small movie.
    const hollowkit::CommandResult result = hollowkit::CommandRunner::run(
        "/usr/bin/ffprobe", {"-v", "error", "-of", "json", "-count_packets", "-show_streams", "-show_format",
                             movie.string()},
        {}, /*logged=*/false, std::chrono::seconds(120));
    if (result.status != 0) return std::nullopt;
    const nlohmann::json probed = nlohmann::json::parse(result.output, nullptr, false);
    if (!probed.is_object() || !probed.contains("streams") || !probed.contains("format")) return std::nullopt;
    ProbedMovie found;
    for (const auto& stream : probed["streams"]) {
        if (stream.value("codec_type", "") == "video") {
            found.videoPackets = std::atoi(stream.value("nb_read_packets", "0").c_str());
        }
    }
    found.durationSeconds = std::strtod(probed["format"].value("duration", "0").c_str(), nullptr);
    return found;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file() && it->path().filename().string().front() != '.') files.push_back(it->path());
    }
    return files;
}

}  // namespace lumenhollow::journey
