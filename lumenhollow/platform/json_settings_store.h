#pragma once

// JsonSettingsStore: the settings file, $XDG_CONFIG_HOME/lumenhollow/
// settings.json (~/.config when the variable is unset). It is read once, at
// construction; every set or remove then rewrites the whole file by an
// atomic replace (temporary, flush, rename), so a crash or a second
// instance never leaves half a file, and keys this version does not know
// are written back unchanged. A settings file that is a link (a dotfile
// manager's) is written where the link leads, so the link stays; a link
// whose file is not there yet makes that file, and one whose folder is not
// there fails as any write into a missing folder does. Unlike a recording,
// the store follows its path from one write to the next: the next start
// reads the file by its path, so a settings folder moved or replaced while
// the program runs gets the next write where that start will look. Each
// write holds its folder from its temporary to its rename and flush, so a
// folder moved in the middle of one keeps no temporary and no half of it.
//
// A damaged member (text that is not UTF-8, a number too large to read) costs
// only its own key, with one log line. A file that cannot be used (not a
// regular file, not JSON, not an object, over the size limit) is renamed to "settings.json.corrupt-<date>-<time>"
// beside it with one log line, and the store starts empty. A file that is
// there but cannot be opened or read (no permission, no file descriptor
// left) is not judged: it is left as it is, the store starts empty and
// saves nothing this session, and one line says so. A write that fails (a
// read-only folder, a full disk) is logged and returns why; the value still
// reads back from memory. A change that would take the settings past the
// size limit is logged, returns why and is kept out of the file, which keeps
// taking every other change.
// Any thread; calls are serialised, and a write holds the store
// while the file is flushed (about a millisecond on a local disk).

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "hollowkit/base/clock.h"
#include "lumenhollow/platform/settings_json.h"
#include "lumenhollow/platform/settings_store.h"

namespace lumenhollow {

class JsonSettingsStore final : public SettingsStore {
public:
    // Far above what the settings need (nine saved camera positions with
    // their thumbnails come to well under 1 MiB), far below what would make
    // reading the file at start-up slow. One measure holds for loading and
    // saving: the settings as compact JSON text. A file larger than this is
    // refused unread; one whose settings take more once written compact
    // (only numbers spelled unusually long can grow so) is refused after
    // reading. A save writes the indented text when it fits, else the
    // compact text, and is refused only past the limit; so whatever loaded
    // can be saved again, and whatever is saved loads.
    static constexpr uint64_t kMaxFileBytes = 4 * 1024 * 1024;

    // Reads `file` now; a missing file is an empty store. `clock` dates the
    // name a refused file is moved to.
    explicit JsonSettingsStore(std::filesystem::path file,
                               const hollowkit::Clock& clock = hollowkit::Clock::system());
    JsonSettingsStore(const JsonSettingsStore&) = delete;
    JsonSettingsStore& operator=(const JsonSettingsStore&) = delete;

    // The file for this user, from $XDG_CONFIG_HOME and $HOME (or the
    // password database when HOME is unset).
    static std::filesystem::path defaultPath();
    // "<xdgConfigHome>/lumenhollow/settings.json", or
    // "<home>/.config/lumenhollow/settings.json" when `xdgConfigHome` is
    // empty or relative (the XDG rules ignore a relative one).
    static std::filesystem::path pathFor(std::string_view home, std::string_view xdgConfigHome);

    std::optional<SettingsValue> value(std::string_view key) const override;
    bool contains(std::string_view key) const override;
    SettingsSaveResult set(std::string_view key, SettingsValue value) override;
    SettingsSaveResult remove(std::string_view key) override;
    // "settings.json.<key>-<date>-<time>" beside the settings file (with
    // "-2", "-3" ... when that is taken): a settings file holding only
    // `key`, as the settings file holds it now, written whole and never over
    // an earlier file. When the newest such copy holds the same bytes
    // already (a value kept at each launch because the settings cannot be
    // written), no file is written and that copy's name is returned. Never
    // subject to the size limit of a save: a value that loaded always fits.
    hollowkit::Result<std::string, std::string> keepCopy(std::string_view key) override;

    const std::filesystem::path& file() const { return file_; }

private:
    void load();
    void moveAside(const std::string& reason);
    // One line each for the members that took their defaults.
    void logRepairs(const ParsedSettings& parsed) const;
    // The file is there but could not be looked at: keep off it this session.
    void leaveAlone(const std::string& reason);
    // Writes document_ to the file; `key` names the change in a failure line.
    SettingsSaveResult save(std::string_view key);

    const std::filesystem::path file_;
    const hollowkit::Clock& clock_;
    mutable std::mutex mutex_;
    SettingsDocument document_;  // guarded by mutex_
    // The settings as the file holds them, and the keys whose values in
    // document_ were too large to join them (each kept out until it is set
    // or removed again). Guarded by mutex_.
    SettingsDocument onDisk_;
    std::set<std::string, std::less<>> withheld_;
    // Why nothing is saved this session, when the file could not be read;
    // set once by load(), before any other call.
    std::optional<std::string> notSaving_;
};

}  // namespace lumenhollow
