#include "hollowkit/wireless/home_network.h"

namespace hollowkit {

const char* toString(StationRole role) {
    switch (role) {
    case StationRole::accessPoint:
        return "accessPoint";
    case StationRole::station:
        return "station";
    case StationRole::unknownButSettable:
        return "unknownButSettable";
    case StationRole::unsupported:
        return "unsupported";
    }
    return "unsupported";
}

StationRole stationRoleFromReply(const std::optional<Bytes>& replyPayload) {
    if (!replyPayload) {
        return StationRole::unsupported;
    }
    if (*replyPayload == Bytes{0x00, 0x01}) return StationRole::station;
    if (*replyPayload == Bytes{0x00, 0x00}) return StationRole::accessPoint;
    if (*replyPayload == Bytes{0xE0}) return StationRole::unknownButSettable;
    return StationRole::unsupported;
}

StationRole stationRoleFromReply(const std::optional<DumlFrame>& reply) {
    return stationRoleFromReply(reply ? std::optional<Bytes>(reply->payload) : std::nullopt);
}

std::string HomeNetworkError::errorDescription() const {
    switch (kind) {
    case Kind::joinRejected:
        return "The camera could not join " + ssid +
               ". Check the password, and that the network is 2.4 or 5 GHz WPA2 (WPA3-only networks are refused).";
    case Kind::notFound:
        return "The camera joined " + ssid + ", but Lumenhollow could not find it. Make sure this Mac is on " + ssid +
               " too.";
    case Kind::unsupportedRole:
        return "This camera did not report a Wi-Fi mode Lumenhollow can change.";
    case Kind::roleRefused:
        return "The camera did not accept joining another Wi-Fi network.";
    case Kind::roleStarting:
        return "The camera's Wi-Fi is still starting. Keep it close and try again.";
    case Kind::joinSilent:
        return "The camera did not answer while joining Wi-Fi. Keep it close and try again.";
    case Kind::invalidSsid:
        return "The home Wi-Fi name must be 1 to 32 bytes long.";
    case Kind::invalidPassword:
        return "The password of " + ssid +
               " is too long. Wi-Fi passwords have at most 63 characters, or exactly 64 hexadecimal digits.";
    case Kind::cancelled:
        return "Moving the camera onto the home Wi-Fi was cancelled.";
    case Kind::none:
        break;
    }
    return "No error.";
}

}  // namespace hollowkit
