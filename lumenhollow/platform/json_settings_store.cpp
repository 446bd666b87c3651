#include "lumenhollow/platform/json_settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hollowkit/base/atomic_file.h"
#include "hollowkit/base/local_time.h"
#include "hollowkit/base/log_excerpt.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/base/user_directories.h"

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using hollowkit::PocketLog;

std::string errnoText(int error) {
    return std::strerror(error);
}

// "20240501-140322" in local time, for the name of a refused file.
std::string fileStamp(hollowkit::WallTime time) {
    const hollowkit::LocalTime local = hollowkit::LocalTime::of(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", local.year, local.month, local.day, local.hour,
                  local.minute, local.second);
    return text;
}

// Makes `key` in `to` what it is in `from`: the same value, the same
// foreign text, or absent.
void copyMember(const SettingsDocument& from, SettingsDocument& to, std::string_view key) {
    if (const auto found = to.values.find(key); found != to.values.end()) to.values.erase(found);
    if (const auto found = to.foreign.find(key); found != to.foreign.end()) to.foreign.erase(found);
    if (const auto found = from.values.find(key); found != from.values.end()) to.values.emplace(key, found->second);
    if (const auto found = from.foreign.find(key); found != from.foreign.end()) to.foreign.emplace(key, found->second);
}

// Reads at most `limit` + 1 bytes, so an overlong file shows itself without
// being read whole. Returns an errno value, or 0.
int readBounded(int fd, uint64_t limit, std::string& text) {
    char buffer[64 * 1024];
    while (text.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return 0;
}

// Renames `from` to `base`, or to "<base>-2", "-3" ... when that is taken:
// never over an earlier file, which may be all that is left of the user's
// settings. Returns the name used, or the errno value.
hollowkit::Result<fs::path, int> renameWithoutReplacing(const fs::path& from, const std::string& base) {
    std::string target = base;
    int error = 0;
    for (int n = 2;; ++n) {
        int renamed = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
        error = renamed == 0 ? 0 : errno;
        if (error == EINVAL) {
            // A file system without the no-replace rename: check, then rename.
            struct stat existing {};
            const bool taken = ::lstat(target.c_str(), &existing) == 0;
            renamed = taken ? -1 : ::rename(from.c_str(), target.c_str());
            error = taken ? EEXIST : (renamed == 0 ? 0 : errno);
        }
        if (error == 0) return fs::path(target);
        if (error != EEXIST || n > 99) return hollowkit::unexpected(error);
        target = base + "-" + std::to_string(n);
    }
}

// `key` as a part of a file name: letters, digits, '.', '_' and '-' kept,
// anything else '_'.
std::string fileNamePart(std::string_view key) {
    std::string part;
    for (const char c : key) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-';
        part.push_back(plain ? c : '_');
    }
    return part;
}

}  // namespace

JsonSettingsStore::JsonSettingsStore(fs::path file, const hollowkit::Clock& clock)
    : file_(std::move(file)), clock_(clock) {
    load();
}

fs::path JsonSettingsStore::pathFor(std::string_view home, std::string_view xdgConfigHome) {
    return hollowkit::configHome(fs::path(home), xdgConfigHome) / "lumenhollow" / "settings.json";
}

fs::path JsonSettingsStore::defaultPath() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string home = hollowkit::homeDirectory();
    return pathFor(home.empty() ? "/" : home, configHome ? configHome : "");
}

void JsonSettingsStore::load() {
    // Non-blocking, so a FIFO put in the file's place cannot hang the start.
    hollowkit::UniqueFd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        const int error = errno;
        // Nothing there (ENOTDIR: a part of the path is a file): a first start.
        if (error == ENOENT || error == ENOTDIR) return;
        // Something that cannot be opened as a file at all (a socket).
        struct stat info {};
        if (::stat(file_.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            moveAside("is not a regular file");
            return;
        }
        // No permission, no descriptor left, no memory: nothing says the
        // file is damaged, and it still holds the pairing identifier.
        leaveAlone("cannot be opened (" + errnoText(error) + ")");
        return;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        leaveAlone("cannot be examined (" + errnoText(errno) + ")");
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        moveAside("is not a regular file");
        return;
    }
    std::string text;
    if (static_cast<uint64_t>(info.st_size) <= kMaxFileBytes) {
        if (const int error = readBounded(fd.get(), kMaxFileBytes, text); error != 0) {
            leaveAlone("cannot be read (" + errnoText(error) + ")");
            return;
        }
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxFileBytes || text.size() > kMaxFileBytes) {
        moveAside("is larger than " + std::to_string(kMaxFileBytes) + " bytes");
        return;
    }
    auto parsed = parseSettingsJson(text);
    if (!parsed) {
        moveAside("is damaged (" + parsed.error() + ")");
        return;
    }
    // The measure a save applies, so that what loads can always be saved.
    if (const size_t compact = formatSettingsJson(parsed->document, SettingsLayout::compact).size();
        compact > kMaxFileBytes) {
        moveAside("would take " + std::to_string(compact) + " bytes once written, more than " +
                  std::to_string(kMaxFileBytes));
        return;
    }
    logRepairs(*parsed);
    document_ = std::move(parsed->document);
    onDisk_ = document_;
}

void JsonSettingsStore::logRepairs(const ParsedSettings& parsed) const {
    // One line for all the damaged members, however many there are.
    std::string what;
    if (parsed.membersWithNumbersOutOfRange > 0) {
        what = std::to_string(parsed.membersWithNumbersOutOfRange) + " setting(s) held a number too large to read";
    }
    if (parsed.membersWithBadText > 0) {
        what += (what.empty() ? "" : " and ") + std::to_string(parsed.membersWithBadText) +
                " setting(s) held text that is not UTF-8 or holds control characters";
    }
    if (!what.empty()) {
        PocketLog::logf("Settings: %s: %s (first %s); they take their defaults, the other settings are kept",
                        file_.c_str(), what.c_str(), parsed.firstRepair.c_str());
    }
    if (!parsed.urlsWithNul.empty()) {
        std::string keys;
        for (const std::string& key : parsed.urlsWithNul) keys += (keys.empty() ? "\"" : ", \"") + key + "\"";
        PocketLog::logf("Settings: %s: %zu location(s) hold a NUL byte (%%00), which no path can hold (%s); they take "
                        "their defaults and are kept in the file as they are",
                        file_.c_str(), parsed.urlsWithNul.size(), hollowkit::logExcerpt(keys).c_str());
    }
}

void JsonSettingsStore::leaveAlone(const std::string& reason) {
    notSaving_ = "the file could not be read at the start";
    PocketLog::logf("Settings: %s %s; started with default settings and left the file as it is: nothing is "
                    "saved to it until the next start",
                    file_.c_str(), reason.c_str());
}

void JsonSettingsStore::moveAside(const std::string& reason) {
    const auto moved = renameWithoutReplacing(file_, file_.string() + ".corrupt-" + fileStamp(clock_.wallNow()));
    if (moved) {
        PocketLog::logf("Settings: %s %s; moved it to %s and started with default settings", file_.c_str(),
                        reason.c_str(), moved->filename().c_str());
    } else {
        PocketLog::logf("Settings: %s %s and could not be moved aside (%s); started with default settings",
                        file_.c_str(), reason.c_str(), errnoText(moved.error()).c_str());
    }
}

std::optional<SettingsValue> JsonSettingsStore::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto found = document_.values.find(key);
    if (found == document_.values.end()) return std::nullopt;
    return found->second;
}

bool JsonSettingsStore::contains(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return document_.values.contains(key) || document_.foreign.contains(key);
}

SettingsSaveResult JsonSettingsStore::set(std::string_view key, SettingsValue value) {
    std::lock_guard lock(mutex_);
    if (const auto foreign = document_.foreign.find(key); foreign != document_.foreign.end()) {
        document_.foreign.erase(foreign);
    }
    document_.values.insert_or_assign(std::string(key), std::move(value));
    return save(key);
}

SettingsSaveResult JsonSettingsStore::remove(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (const auto found = document_.values.find(key); found != document_.values.end()) {
        document_.values.erase(found);
    }
    if (const auto foreign = document_.foreign.find(key); foreign != document_.foreign.end()) {
        document_.foreign.erase(foreign);
    }
    return save(key);
}

hollowkit::Result<std::string, std::string> JsonSettingsStore::keepCopy(std::string_view key) {
    std::lock_guard lock(mutex_);
    // What the file holds: the value a change is about to replace.
    SettingsDocument copy;
    copyMember(onDisk_, copy, key);
    if (copy.values.empty() && copy.foreign.empty()) {
        return hollowkit::unexpected("nothing is stored under \"" + std::string(key) + "\"");
    }
    // A settings file of its own, so the copy reads back as the settings
    // do. It is written beside the settings file and not into it: the
    // settings have no room for a second value of up to their whole size.
    std::string text = formatSettingsJson(copy, SettingsLayout::indented);
    if (text.size() > kMaxFileBytes) text = formatSettingsJson(copy, SettingsLayout::compact);
    const fs::path folder = file_.parent_path();
    const std::string stamp = fileStamp(clock_.wallNow());
    const fs::path temporary = folder / (".settings.json." + fileNamePart(key) + "-" + stamp + ".part-" +
                                         std::to_string(::getpid()));
    // Whole or not at all; owner only, like the settings.
    if (auto written = hollowkit::writeFileAtomically(temporary, text, fs::perms::owner_read | fs::perms::owner_write);
        !written) {
        PocketLog::logf("Settings: no copy of \"%s\" kept in %s (%s)", std::string(key).c_str(), folder.c_str(),
                        written.error().message().c_str());
        return hollowkit::unexpected(written.error().message());
    }
    const auto moved =
        renameWithoutReplacing(temporary, file_.string() + "." + fileNamePart(key) + "-" + stamp);
    if (!moved) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        PocketLog::logf("Settings: no copy of \"%s\" kept in %s (%s)", std::string(key).c_str(), folder.c_str(),
                        errnoText(moved.error()).c_str());
        return hollowkit::unexpected(errnoText(moved.error()));
    }
    PocketLog::logf("Settings: kept a copy of \"%s\" as %s (%zu bytes)", std::string(key).c_str(),
                    moved->c_str(), text.size());
    return moved->filename().string();
}

SettingsSaveResult JsonSettingsStore::save(std::string_view key) {
    if (notSaving_) return {*notSaving_};  // logged once, at the start
    const std::string keyText(key);
    if (const auto found = withheld_.find(key); found != withheld_.end()) withheld_.erase(found);
    // Values too large to save stay out of the file as they were on disk,
    // so one of them never keeps every later change from being saved.
    std::optional<SettingsDocument> withoutWithheld;
    if (!withheld_.empty()) {
        withoutWithheld = document_;
        for (const std::string& other : withheld_) copyMember(onDisk_, *withoutWithheld, other);
    }
    const SettingsDocument& document = withoutWithheld ? *withoutWithheld : document_;
    // Compact text counts toward the limit; the indented text is written
    // when it fits too. A file over the limit would be refused at the next
    // start, losing every setting; the last good file stays instead.
    std::string text = formatSettingsJson(document, SettingsLayout::indented);
    if (text.size() > kMaxFileBytes) text = formatSettingsJson(document, SettingsLayout::compact);
    if (text.size() > kMaxFileBytes) {
        withheld_.insert(keyText);
        PocketLog::logf("Settings: \"%s\" not saved: the settings would take %zu bytes, more than %llu",
                        keyText.c_str(), text.size(), static_cast<unsigned long long>(kMaxFileBytes));
        return {"they would take more than " + std::to_string(kMaxFileBytes / (1024 * 1024)) + " MB"};
    }
    std::error_code error;
    fs::create_directories(file_.parent_path(), error);
    if (error) {
        PocketLog::logf("Settings: \"%s\" not saved: cannot create %s (%s)", keyText.c_str(),
                        file_.parent_path().c_str(), error.message().c_str());
        return {"its folder cannot be made: " + error.message()};
    }
    // A settings file kept elsewhere and linked here (as dotfile managers
    // do) is replaced where it lies, so the link stays.
    fs::path target = file_;
    if (fs::is_symlink(file_, error)) {
        if (fs::path resolved = fs::canonical(file_, error); !error) target = std::move(resolved);
    }
    // Owner only: the file holds the identifier this computer pairs with.
    auto written = hollowkit::writeFileAtomically(target, text, fs::perms::owner_read | fs::perms::owner_write);
    if (!written) {
        PocketLog::logf("Settings: \"%s\" not saved to %s (%s)", keyText.c_str(), target.c_str(),
                        written.error().message().c_str());
        return {written.error().message()};
    }
    onDisk_ = document;
    return {};
}

}  // namespace lumenhollow
