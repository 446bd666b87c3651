#include "lumenhollow/model/credentials.h"

#include <algorithm>

namespace lumenhollow {

namespace {

constexpr size_t kPairingIdentifierLength = 32;

bool usableIdentifier(const std::string& stored) {
    // Counted in bytes: other bytes would make a different length, and
    // could not travel in the camera's pairing request as the text meant.
    return stored.size() == kPairingIdentifierLength &&
           std::all_of(stored.begin(), stored.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
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

HomeWiFiPasswordStore::HomeWiFiPasswordStore(const SettingsStore& settings, SecretStore& secrets)
    : settings_(settings), secrets_(secrets) {}

std::optional<hollowkit::HomeNetwork> HomeWiFiPasswordStore::load() const {
    std::optional<std::string> ssid = settings_.get<std::string>(kHomeNetworkSSIDKey);
    if (!ssid) return std::nullopt;
    std::optional<std::string> password = secrets_.password(kService, *ssid);
    if (!password) return std::nullopt;
    return hollowkit::HomeNetwork{std::move(*ssid), std::move(*password)};
}

}  // namespace lumenhollow
