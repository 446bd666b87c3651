#pragma once

// Steps the wireless journeys share: bringing the application on its
// wireless route to a live picture the way a user does (following what it
// asks, approving the pairing on the camera), finding a popup window of the
// program on the desktop, and probing the movies it left behind.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {

// What the application asks while it pairs.
inline constexpr const char* kApprovePairingStatus = "Approve the pairing on the camera screen";

// The report's record of the simulated camera (an empty object before one).
nlohmann::json simulator(const nlohmann::json& report);

// From a fresh start: waits for the application to ask for the pairing to be
// approved on the camera, approves it there (SIGUSR1 to the host), and waits
// for the live picture. False, with the reason in `why`, when a step does
// not come.
bool pairAndGoLive(JourneyApp& app, std::string& why);

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The visible windows of process `pid`, by their X ids.
std::vector<std::pair<std::string, ScreenRect>> visibleWindows(JourneyDesktop& desktop, pid_t pid);
// The visible window of process `pid` that is `width` wide (a popover
// whose content has a fixed width).
std::optional<ScreenRect> visibleWindowOfWidth(JourneyDesktop& desktop, pid_t pid, int width);

// The brightness (0...255) of every pixel of `rect` on the screen, row by
// row, read from the root window; empty when the X server would not say.
std::vector<uint8_t> captureBrightness(JourneyDesktop& desktop, const ScreenRect& rect);

// Pixels of `brightness` at or above `threshold`, as a share of them all.
double shareAtLeast(const std::vector<uint8_t>& brightness, uint8_t threshold);
double meanOf(const std::vector<uint8_t>& brightness);

// What ffprobe makes of a movie: nothing when it cannot read it.
struct ProbedMovie {
    int videoPackets = 0;
    double durationSeconds = 0;
};
std::optional<ProbedMovie> probeMovie(const std::filesystem::path& movie);

// Every regular file under `folder`, but for the application's hidden ones.
std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder);

}  // namespace lumenhollow::journey
