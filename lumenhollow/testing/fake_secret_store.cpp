#include "lumenhollow/testing/fake_secret_store.h"

namespace lumenhollow {

void FakeSecretStore::store(std::string_view service, std::string_view account, std::string password) {
    std::lock_guard lock(mutex_);
    passwords_[{std::string(service), std::string(account)}] = std::move(password);
}

std::optional<std::string> FakeSecretStore::password(std::string_view service, std::string_view account) {
    std::lock_guard lock(mutex_);
    Entry entry{std::string(service), std::string(account)};
    lookups_.push_back(entry);
    const auto found = passwords_.find(entry);
    if (found == passwords_.end()) return std::nullopt;
    return found->second;
}

std::vector<FakeSecretStore::Entry> FakeSecretStore::lookups() const {
    std::lock_guard lock(mutex_);
    return lookups_;
}

}  // namespace lumenhollow
