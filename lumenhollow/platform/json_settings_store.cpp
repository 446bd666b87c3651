#include "lumenhollow/platform/json_settings_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <tuple>
#include <vector>

#include "hollowkit/base/atomic_file.h"
#include "hollowkit/base/local_time.h"
#include "hollowkit/base/log_excerpt.h"
#include "hollowkit/base/new_file.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/base/unique_fd.h"
#include "hollowkit/base/user_directories.h"

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;
using hollowkit::PocketLog;

// Names tried for a file moved or kept beside the settings: "<name>",
// "<name>-2" ... "<name>-99".
constexpr int kMaxNumberedNames = 99;
// Links followed from the settings file to the file written; past this the
// links go round in a loop (the kernel's own limit).
constexpr int kMaxLinksFollowed = 40;

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

// "<base>" for the first try, "<base>-2", "-3" ... after it.
std::string numberedName(const std::string& base, int n) {
    return n <= 1 ? base : base + "-" + std::to_string(n);
}

// Renames `from` to `base`, or to "<base>-2", "-3" ... when that is taken:
// never over an earlier file, which may be all that is left of the user's
// settings. Returns the name used, or the errno value.
hollowkit::Result<fs::path, int> moveWithoutReplacing(const fs::path& from, const std::string& base) {
    for (int n = 1;; ++n) {
        const std::string target = numberedName(base, n);
        const std::error_code error = hollowkit::renameWithoutReplacing(from, target);
        if (!error) return fs::path(target);
        if (error != std::errc::file_exists || n >= kMaxNumberedNames) return hollowkit::unexpected(error.value());
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

// The number after "<stamp>-" in a copy's name (2 to 99), 1 for none, 0
// when `rest` is not "<date>-<time>[-<n>]" as fileStamp and numberedName
// write them.
int copyNumber(std::string_view rest) {
    const auto digits = [](std::string_view text) {
        return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (rest.size() < 15 || !digits(rest.substr(0, 8)) || rest[8] != '-' || !digits(rest.substr(9, 6))) return 0;
    if (rest.size() == 15) return 1;
    const std::string_view number = rest.substr(15);
    if (number.size() < 2 || number.size() > 3 || number[0] != '-' || number[1] == '0' || !digits(number.substr(1))) {
        return 0;
    }
    const int n = std::stoi(std::string(number.substr(1)));
    return n >= 2 && n <= kMaxNumberedNames ? n : 0;
}

// The newest copy in `folder` named "<prefix><date>-<time>[-<n>]": the
// latest time, and of those the highest number.
std::optional<fs::path> newestCopy(const fs::path& folder, const std::string& prefix) {
    std::optional<fs::path> newest;
    std::string newestStamp;
    int newestNumber = 0;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.starts_with(prefix)) continue;
        const std::string_view rest = std::string_view(name).substr(prefix.size());
        const int number = copyNumber(rest);
        if (number == 0) continue;
        const std::string stamp(rest.substr(0, 15));
        if (!newest || std::tie(stamp, number) > std::tie(newestStamp, newestNumber)) {
            newest = entry->path();
            newestStamp = stamp;
            newestNumber = number;
        }
    }
    return newest;
}

// Whether `path` is a regular file holding `text` and nothing else; read
// only when its size says it may.
bool holdsExactly(const fs::path& path, std::string_view text) {
    hollowkit::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<uint64_t>(info.st_size) != text.size()) {
        return false;
    }
    std::string held;
    return readBounded(fd.get(), text.size(), held) == 0 && held == text;
}

// The file a write of `file` lands in: `file` itself, or where the chain
// of links that is `file` ends, whether or not anything is there yet.
// ELOOP for links that go round; the error of a link that cannot be read.
hollowkit::Result<fs::path, std::error_code> linkTarget(const fs::path& file) {
    fs::path target = file;
    for (int followed = 0;; ++followed) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0) {
            // Nothing there (the write makes it), or a folder on the way that
            // cannot be looked into (the write fails the same way and says so).
            return target;
        }
        if (!S_ISLNK(info.st_mode)) return target;
        if (followed == kMaxLinksFollowed) return hollowkit::unexpected(std::error_code(ELOOP, std::generic_category()));
        std::error_code error;
        const fs::path next = fs::read_symlink(target, error);
        if (error) return hollowkit::unexpected(error);
        // A relative link leads on from the folder it lies in.
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
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
    const auto moved = moveWithoutReplacing(file_, file_.string() + ".corrupt-" + fileStamp(clock_.wallNow()));
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
    const std::string prefix = file_.filename().string() + "." + fileNamePart(key) + "-";
    // A value that is never replaced (the settings are linked into a folder
    // that cannot be written) is copied again at each launch: the copy
    // made before is that copy already.
    if (const std::optional<fs::path> newest = newestCopy(folder, prefix); newest && holdsExactly(*newest, text)) {
        PocketLog::logf("Settings: \"%s\" was kept as %s already; no new copy made", std::string(key).c_str(),
                        newest->c_str());
        return newest->filename().string();
    }
    // Whole or not at all, never over an earlier copy; owner only, like the settings.
    const std::string base = prefix + fileStamp(clock_.wallNow());
    const auto written =
        hollowkit::writeNewFile(folder, text, fs::perms::owner_read | fs::perms::owner_write,
                                [&base](int n) { return numberedName(base, n); }, kMaxNumberedNames);
    if (!written) {
        PocketLog::logf("Settings: no copy of \"%s\" kept in %s (%s)", std::string(key).c_str(), folder.c_str(),
                        written.error().message().c_str());
        return hollowkit::unexpected(written.error().message());
    }
    PocketLog::logf("Settings: kept a copy of \"%s\" as %s (%zu bytes)", std::string(key).c_str(),
                    written->c_str(), text.size());
    return written->filename().string();
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
    // do) is replaced where it lies, so the link stays; a link whose file is
    // not there yet makes that file.
    const auto linked = linkTarget(file_);
    if (!linked) {
        PocketLog::logf("Settings: \"%s\" not saved: the link %s cannot be followed (%s)", keyText.c_str(),
                        file_.c_str(), linked.error().message().c_str());
        return {linked.error().message()};
    }
    const fs::path& target = *linked;
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
