#pragma once

// MemorySettingsStore: a SettingsStore in memory for tests, with a log of
// every write (set or remove) in order, so a test can check that one change
// wrote exactly the keys it should and that reading wrote nothing. Values
// given at construction are "already stored" and not in the log. A test can
// have writes fail as a read-only folder would, and have copies fail. Any
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

// A copy kept by keepCopy().
struct KeptSettingsCopy {
    std::string key;
    SettingsValue value;

    bool operator==(const KeptSettingsCopy&) const = default;
};

class MemorySettingsStore final : public SettingsStore {
public:
    MemorySettingsStore() = default;
    explicit MemorySettingsStore(std::map<std::string, SettingsValue, std::less<>> stored);

    std::optional<SettingsValue> value(std::string_view key) const override;
    bool contains(std::string_view key) const override;
    SettingsSaveResult set(std::string_view key, SettingsValue value) override;
    SettingsSaveResult remove(std::string_view key) override;
    hollowkit::Result<std::string, std::string> keepCopy(std::string_view key) override;

    // From now on every write still changes what reads back, is logged, and
    // reports `failure` (nothing: writes are saved again).
    void failWrites(std::optional<std::string> failure);
    // From now on keepCopy() fails with `failure` (nothing: copies work).
    void failCopies(std::optional<std::string> failure);
    std::vector<KeptSettingsCopy> copies() const;

    std::vector<SettingsWrite> writes() const;
    void clearWrites();
    // The keys of the writes, in order.
    std::vector<std::string> writtenKeys() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, SettingsValue, std::less<>> values_;  // guarded by mutex_
    std::vector<SettingsWrite> writes_;                         // guarded by mutex_
    std::vector<KeptSettingsCopy> copies_;                      // guarded by mutex_
    std::optional<std::string> writeFailure_;                   // guarded by mutex_
    std::optional<std::string> copyFailure_;                    // guarded by mutex_
};

}  // namespace lumenhollow
