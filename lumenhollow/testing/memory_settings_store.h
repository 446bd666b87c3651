#pragma once

// MemorySettingsStore: a SettingsStore in memory for tests, with a log of
// every write (set or remove) in order, so a test can check that one change
// wrote exactly the keys it should and that reading wrote nothing. Values
// given at construction are "already stored" and not in the log. Any
// thread.

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

struct SettingsWrite {
    std::string key;
    std::optional<SettingsValue> value;  // nothing: the key was removed

    bool operator==(const SettingsWrite&) const = default;
};

class MemorySettingsStore final : public SettingsStore {
public:
    MemorySettingsStore() = default;
    explicit MemorySettingsStore(std::map<std::string, SettingsValue, std::less<>> stored);

    std::optional<SettingsValue> value(std::string_view key) const override;
    bool contains(std::string_view key) const override;
    void set(std::string_view key, SettingsValue value) override;
    void remove(std::string_view key) override;

    std::vector<SettingsWrite> writes() const;
    void clearWrites();
    // The keys of the writes, in order.
    std::vector<std::string> writtenKeys() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, SettingsValue, std::less<>> values_;  // guarded by mutex_
    std::vector<SettingsWrite> writes_;                         // guarded by mutex_
};

}  // namespace lumenhollow
