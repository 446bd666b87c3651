#pragma once

// Steps the USB journeys share: a sound source named as the Pocket's, the
// pose in the state report and waiting for it to come to rest, and the
// pop-up menu a bottom-bar pill opens.
//
// Thread: the test's own.

#include <chrono>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"

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

// A source on the desktop's sound server that looks like the Pocket's USB
// microphone (its name and USB vendor), playing the desktop's tone; the
// module's index for unloading, or pactl's complaint.
struct PocketSoundSource {
    std::optional<std::string> module;
    std::string error;
};
PocketSoundSource addPocketSoundSource(JourneyDesktop& desktop);
inline constexpr const char* kPocketSoundName = "Osmo Pocket 3";

// Clicks the pill at (x, y) in the app's window and returns the pop-up menu
// that opened, on the screen; nothing when none did.
std::optional<ScreenRect> openPillMenu(JourneyDesktop& desktop, JourneyApp& app, int x, int y);

}  // namespace lumenhollow::journey
