#pragma once

// Steps the USB journeys share: the settings of a returning user, a sound
// source named as the Pocket's, the pose in the state report and waiting
// for it to come to rest, xdotool runs on the desktop, and the pop-up menu
// a bottom-bar pill opens.
//
// Thread: the test's own.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {

// Where the camera points, as the report says.
struct ReportedPose {
    double pan = 0;
    double tilt = 0;
    double zoom = 0;
};

std::optional<ReportedPose> poseOf(const nlohmann::json& report);
std::string describe(const ReportedPose& pose);

// The pose once it has held still for eight reports in a row (most of a
// second); nothing when it kept changing for `limit`.
std::optional<ReportedPose> settledPose(JourneyApp& app, std::chrono::milliseconds limit = 15s);

// A returning user: the welcome sheet does not open over the picture.
void markWelcomed(const JourneyDesktop& desktop);

// A source on the desktop's sound server that looks like the Pocket's USB
// microphone (its name and USB vendor), playing the desktop's tone; the
// module's index for unloading, or pactl's complaint.
struct PocketSoundSource {
    std::optional<std::string> module;
    std::string error;
};
PocketSoundSource addPocketSoundSource(JourneyDesktop& desktop);
inline constexpr const char* kPocketSoundName = "Osmo Pocket 3";

// Runs xdotool on the desktop; false (with its words in `output`) when it failed.
bool xdotool(JourneyDesktop& desktop, const std::vector<std::string>& arguments, std::string* output = nullptr);

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The luma of a region of the screen, a byte a pixel, row by row, as
// ffmpeg grabs it from the X server; empty when it could not.
std::vector<uint8_t> grabScreenLuma(JourneyDesktop& desktop, const ScreenRect& region);

// Clicks the pill at (x, y) in the app's window and returns the pop-up menu
// that opened, on the screen; nothing when none did.
std::optional<ScreenRect> openPillMenu(JourneyDesktop& desktop, JourneyApp& app, int x, int y);

}  // namespace lumenhollow::journey
