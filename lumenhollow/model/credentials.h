#pragma once

// The two things a camera route is built with besides its services: the
// pairing identifier with which this computer introduces itself to the
// camera, and the home Wi-Fi onto which the wireless route moves the camera
// (its name is a setting, its password sits in the desktop keyring). The
// application reads both and writes neither, except that a missing or
// unusable identifier is replaced by a new random one. Main executor.

#include <optional>
#include <string>
#include <string_view>

#include "hollowkit/wireless/home_network.h"
#include "lumenhollow/platform/secret_store.h"
#include "lumenhollow/platform/secure_random.h"
#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

inline constexpr std::string_view kPairingIdentifierKey = "pairingIdentifier";
inline constexpr std::string_view kHomeNetworkSSIDKey = "homeNetworkSSID";

// The stored identifier when it is 32 ASCII characters; otherwise 32 new
// lower-case hexadecimal digits from 16 random bytes, stored and returned.
std::string pairingIdentifier(SettingsStore& settings, SecureRandom& random);

// HomeWiFiPasswordStore: the home network, its name from the settings and
// its password from the keyring item with kService as the service and the
// name as the account. Read only: the user puts both there (the README
// shows how) and this program never changes either. Main executor; both
// references must outlive the store.
class HomeWiFiPasswordStore {
public:
    static constexpr std::string_view kService = "com.tarvenc.lumenhollow.home-wifi";

    HomeWiFiPasswordStore(const SettingsStore& settings, SecretStore& secrets);

    // The home network when the name is set (an empty name counts) and the
    // keyring holds a password for it; nothing otherwise, silently, and
    // without a name the keyring is not asked. Blocks while the keyring
    // answers.
    std::optional<hollowkit::HomeNetwork> load() const;

private:
    const SettingsStore& settings_;
    SecretStore& secrets_;
};

}  // namespace lumenhollow
