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
// The keyring service under which the home Wi-Fi password is kept, with the
// network's name as the account.
inline constexpr std::string_view kHomeWiFiService = "com.tarvenc.lumenhollow.home-wifi";

// The stored identifier when it is 32 ASCII characters; otherwise 32 new
// lower-case hexadecimal digits from 16 random bytes, stored and returned.
std::string pairingIdentifier(SettingsStore& settings, SecureRandom& random);

// The home network when its name is set and the keyring holds its password;
// nothing otherwise (without a name the keyring is not asked).
std::optional<hollowkit::HomeNetwork> loadHomeNetwork(const SettingsStore& settings, SecretStore& secrets);

}  // namespace lumenhollow
