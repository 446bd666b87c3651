#pragma once

// SettingsSaveWatch: the settings as the model writes them. Every call goes
// to the store underneath; each set or remove that was not saved is also
// handed to `onNotSaved` with why, so the model can tell the user that
// settings are not being kept, whichever of its writes finds out first, and
// each one that was saved is told to `onSaved`.
// The thread that calls the store's writes.

#include <functional>
#include <string>

#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

class SettingsSaveWatch final : public SettingsStore {
public:
    using OnNotSaved = std::function<void(const std::string& failure)>;
    using OnSaved = std::function<void()>;

    SettingsSaveWatch(SettingsStore& store, OnNotSaved onNotSaved, OnSaved onSaved = {})
        : store_(store), onNotSaved_(std::move(onNotSaved)), onSaved_(std::move(onSaved)) {}

    std::optional<SettingsValue> value(std::string_view key) const override { return store_.value(key); }
    bool contains(std::string_view key) const override { return store_.contains(key); }
    SettingsSaveResult set(std::string_view key, SettingsValue value) override {
        return told(store_.set(key, std::move(value)));
    }
    SettingsSaveResult remove(std::string_view key) override { return told(store_.remove(key)); }
    // Not a write: the caller decides what a copy that could not be kept means.
    hollowkit::Result<std::string, std::string> keepCopy(std::string_view key) override {
        return store_.keepCopy(key);
    }

private:
    SettingsSaveResult told(SettingsSaveResult result) {
        if (result.failure && onNotSaved_) onNotSaved_(*result.failure);
        if (!result.failure && onSaved_) onSaved_();
        return result;
    }

    SettingsStore& store_;
    OnNotSaved onNotSaved_;
    OnSaved onSaved_;
};

}  // namespace lumenhollow
