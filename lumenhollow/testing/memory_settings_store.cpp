#include "lumenhollow/testing/memory_settings_store.h"

namespace lumenhollow {

MemorySettingsStore::MemorySettingsStore(std::map<std::string, SettingsValue, std::less<>> stored)
    : values_(std::move(stored)) {}

std::optional<SettingsValue> MemorySettingsStore::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

bool MemorySettingsStore::contains(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return values_.contains(key);
}

SettingsSaveResult MemorySettingsStore::set(std::string_view key, SettingsValue value) {
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), value);
    writes_.push_back({std::string(key), std::move(value)});
    return {writeFailure_};
}

SettingsSaveResult MemorySettingsStore::remove(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (const auto found = values_.find(key); found != values_.end()) values_.erase(found);
    writes_.push_back({std::string(key), std::nullopt});
    return {writeFailure_};
}

hollowkit::Result<std::string, std::string> MemorySettingsStore::keepCopy(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (copyFailure_) return hollowkit::unexpected(*copyFailure_);
    const auto found = values_.find(key);
    if (found == values_.end()) return hollowkit::unexpected("nothing is stored under \"" + std::string(key) + "\"");
    copies_.push_back({std::string(key), found->second});
    return "copy " + std::to_string(copies_.size());
}

void MemorySettingsStore::failWrites(std::optional<std::string> failure) {
    std::lock_guard lock(mutex_);
    writeFailure_ = std::move(failure);
}

void MemorySettingsStore::failCopies(std::optional<std::string> failure) {
    std::lock_guard lock(mutex_);
    copyFailure_ = std::move(failure);
}

std::vector<KeptSettingsCopy> MemorySettingsStore::copies() const {
    std::lock_guard lock(mutex_);
    return copies_;
}

std::vector<SettingsWrite> MemorySettingsStore::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void MemorySettingsStore::clearWrites() {
    std::lock_guard lock(mutex_);
    writes_.clear();
}

std::vector<std::string> MemorySettingsStore::writtenKeys() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> keys;
    for (const SettingsWrite& write : writes_) keys.push_back(write.key);
    return keys;
}

}  // namespace lumenhollow
