#pragma once

// FakeSecretStore: a keyring in memory for tests. Holds passwords by
// (service, account) and records every lookup, so a test can check that the
// keyring was not asked at all. Any thread.

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "lumenhollow/platform/secret_store.h"

namespace lumenhollow {

class FakeSecretStore final : public SecretStore {
public:
    using Entry = std::pair<std::string, std::string>;  // service, account

    void store(std::string_view service, std::string_view account, std::string password);

    std::optional<std::string> password(std::string_view service, std::string_view account) override;

    std::vector<Entry> lookups() const;

private:
    mutable std::mutex mutex_;
    std::map<Entry, std::string> passwords_;  // guarded by mutex_
    std::vector<Entry> lookups_;              // guarded by mutex_
};

}  // namespace lumenhollow
