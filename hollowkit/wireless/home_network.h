#pragma once

// Value types of moving the camera onto the user's home Wi-Fi: the network
// itself, the camera's Wi-Fi role as it reports it, and the failures of a
// move with their user-facing sentences. Plain values, any thread.

#include <cstdint>
#include <optional>
#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/camera/duml_frame.h"

namespace hollowkit {

// The home Wi-Fi network the camera is moved onto.
struct HomeNetwork {
    std::string ssid;
    std::string password;

    bool operator==(const HomeNetwork&) const = default;
};

// The camera's Wi-Fi role, from the payload of its 07/39 reply.
enum class StationRole : uint8_t {
    accessPoint,         // the camera runs its own access point
    station,             // the camera is a client of another network
    unknownButSettable,
    unsupported,
};

// The case name ("accessPoint", ...), as the logs show it.
const char* toString(StationRole role);
// The role a 07/39 reply payload names: 00 01 station, 00 00 access point,
// E0 unknown but settable; anything else, and no reply, unsupported.
StationRole stationRoleFromReply(const std::optional<Bytes>& replyPayload);
StationRole stationRoleFromReply(const std::optional<DumlFrame>& reply);

// A failed move. `ssid` is the home network's name for the cases that name it.
struct HomeNetworkError {
    enum class Kind : uint8_t {
        none = 0,
        joinRejected,     // the camera refused the network
        notFound,         // joined, but not found on the network afterwards
        unsupportedRole,
        roleRefused,      // the camera refused to leave its access point
        roleStarting,     // the access point did not end in time
        joinSilent,       // no answer to three join requests
        invalidSsid,      // the name cannot be a Wi-Fi network name
        invalidPassword,  // the password cannot be a Wi-Fi password
        cancelled,        // the move was cancelled by its owner
    };

    Kind kind = Kind::none;
    std::string ssid;

    bool operator==(const HomeNetworkError&) const = default;

    static HomeNetworkError joinRejected(std::string ssid) { return {Kind::joinRejected, std::move(ssid)}; }
    static HomeNetworkError notFound(std::string ssid) { return {Kind::notFound, std::move(ssid)}; }
    static HomeNetworkError unsupportedRole() { return {Kind::unsupportedRole, {}}; }
    static HomeNetworkError roleRefused() { return {Kind::roleRefused, {}}; }
    static HomeNetworkError roleStarting() { return {Kind::roleStarting, {}}; }
    static HomeNetworkError joinSilent() { return {Kind::joinSilent, {}}; }
    static HomeNetworkError invalidSsid(std::string ssid) { return {Kind::invalidSsid, std::move(ssid)}; }
    static HomeNetworkError invalidPassword(std::string ssid) { return {Kind::invalidPassword, std::move(ssid)}; }
    static HomeNetworkError cancelled() { return {Kind::cancelled, {}}; }

    // The sentence shown to the user.
    std::string errorDescription() const;
};

}  // namespace hollowkit
