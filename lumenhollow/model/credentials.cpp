#include "lumenhollow/model/credentials.h"

#include <algorithm>

namespace lumenhollow {

namespace {

constexpr size_t kPairingIdentifierLength = 32;

bool usableIdentifier(const std::string& stored) {
    // Other bytes could not travel in the camera's pairing request as the text they were meant as.
    return stored.size() == kPairingIdentifierLength &&
           std::all_of(stored.begin(), stored.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

std::string pairingIdentifier(SettingsStore& settings, SecureRandom& random) {
    if (std::optional<std::string> stored = settings.get<std::string>(kPairingIdentifierKey);
        stored && usableIdentifier(*stored)) {
        return *stored;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string made;
    for (uint8_t byte : random.bytes(kPairingIdentifierLength / 2)) {
        made.push_back(kDigits[byte >> 4]);
        made.push_back(kDigits[byte & 0x0F]);
    }
    settings.set(kPairingIdentifierKey, made);
    return made;
}

std::optional<hollowkit::HomeNetwork> loadHomeNetwork(const SettingsStore& settings, SecretStore& secrets) {
    std::optional<std::string> ssid = settings.get<std::string>(kHomeNetworkSSIDKey);
    if (!ssid) return std::nullopt;
    std::optional<std::string> password = secrets.password(kHomeWiFiService, *ssid);
    if (!password) return std::nullopt;
    return hollowkit::HomeNetwork{std::move(*ssid), std::move(*password)};
}

}  // namespace lumenhollow
