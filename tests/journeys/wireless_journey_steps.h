#pragma once

// Steps the wireless journeys share: the simulated camera's record in the
// state report, and bringing the application on its wireless route to a
// live picture the way a user does (following what it asks, approving the
// pairing on the camera).

#include <string>

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

}  // namespace lumenhollow::journey
