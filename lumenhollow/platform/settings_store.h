#pragma once

// SettingsStore: the user's choices, kept across launches as typed values
// under string keys. Reads come from memory; each set or remove is saved at
// once, one key at a time, with no separate save call. A value that cannot
// be saved is logged, still reads back until the process ends, and the
// write says why it was not saved, so the caller can tell the user.
// Implementations say which threads may call them.

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "hollowkit/base/result.h"
#include "lumenhollow/platform/settings_value.h"

namespace lumenhollow {

// What became of a set or remove: saved, or held in memory only.
struct SettingsSaveResult {
    // Why the change was not saved, short enough for a notice ("Read-only
    // file system"; the store's log line names the file); nothing when it
    // was saved.
    std::optional<std::string> failure;

    bool saved() const { return !failure; }
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The value under `key`; nothing when the key is absent or holds a
    // value this program cannot read.
    virtual std::optional<SettingsValue> value(std::string_view key) const = 0;
    // Whether anything is stored under `key`, a value this program cannot
    // read included: a key to be kept clear of.
    virtual bool contains(std::string_view key) const = 0;
    virtual SettingsSaveResult set(std::string_view key, SettingsValue value) = 0;
    // Removing an absent key still counts as a write.
    virtual SettingsSaveResult remove(std::string_view key) = 0;

    // Keeps a whole copy of what is stored under `key`, whatever its shape
    // and size, where no later write reaches it, before a change overwrites
    // a value this program could not read whole. Returns the copy's name
    // for a log line, or why no copy could be kept, short enough for a
    // notice ("Permission denied"; nothing stored under `key`).
    virtual hollowkit::Result<std::string, std::string> keepCopy(std::string_view key) = 0;

    // The value under `key` when it has the type T; nothing when the key is
    // absent or holds another type. A whole number reads as a double too,
    // since JSON and hand edits do not tell 2 from 2.0; no other type
    // converts ("5" is not a number, 1 is not a Bool).
    template <typename T>
    std::optional<T> get(std::string_view key) const {
        static_assert(isSettingsType<T>, "T must be one of SettingsValue's types");
        const std::optional<SettingsValue> stored = value(key);
        if (!stored) return std::nullopt;
        if (const T* typed = std::get_if<T>(&*stored)) return *typed;
        if constexpr (std::is_same_v<T, double>) {
            if (const int64_t* whole = std::get_if<int64_t>(&*stored)) return static_cast<double>(*whole);
        }
        return std::nullopt;
    }

    // The value under `key` when it has the type T, else `fallback`.
    template <typename T>
    T get(std::string_view key, T fallback) const {
        std::optional<T> typed = get<T>(key);
        return typed ? std::move(*typed) : std::move(fallback);
    }

private:
    template <typename T>
    static constexpr bool isSettingsType =
        std::is_same_v<T, bool> || std::is_same_v<T, int64_t> || std::is_same_v<T, double> ||
        std::is_same_v<T, std::string> || std::is_same_v<T, StringArray> || std::is_same_v<T, Bytes> ||
        std::is_same_v<T, Url>;
};

}  // namespace lumenhollow
