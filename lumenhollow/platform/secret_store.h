#pragma once

// SecretStore: reads a password that the user keeps in the desktop's
// keyring, found by a service name and an account. Read only: this program
// never stores or changes a secret. Every failure (no keyring, a locked
// one, no such item, a password that is not UTF-8 text) reads as "no
// password"; implementations log why, never the password itself.

#include <optional>
#include <string>
#include <string_view>

namespace lumenhollow {

class SecretStore {
public:
    virtual ~SecretStore() = default;

    // Blocks the calling thread while the keyring answers.
    virtual std::optional<std::string> password(std::string_view service, std::string_view account) = 0;
};

}  // namespace lumenhollow
