#pragma once

// LibsecretStore: SecretStore over the freedesktop Secret Service (GNOME
// Keyring, KWallet, KeePassXC) through libsecret. Items are matched by the
// attributes "service" and "account" whatever schema stored them, so an
// item made with `secret-tool store ... service <service> account <account>`
// is found. No Secret Service on the session bus, a locked collection the
// user does not unlock, or no item read as no password, with one log line.
//
// The lookup blocks the calling thread until the service answers (and, on a
// desktop whose keyring is locked, until the user answers its unlock
// prompt). Stateless; any thread.

#include "lumenhollow/platform/secret_store.h"

namespace lumenhollow {

class LibsecretStore final : public SecretStore {
public:
    std::optional<std::string> password(std::string_view service, std::string_view account) override;
};

}  // namespace lumenhollow
