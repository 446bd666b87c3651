#include "lumenhollow/platform/linux/instance_lock_record.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace lumenhollow {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSocketKey = "socket ";
constexpr std::string_view kEnding = "ending";
// More than any record holds; a longer text is not one.
constexpr size_t kLongestRecord = 8192;

std::optional<int> parseRecordPid(const std::string& value) {
    char* end = nullptr;
    const long pid = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || pid <= 0 || pid > INT32_MAX) return std::nullopt;
    return static_cast<int>(pid);
}

// The process /proc/locks names as holding an flock on `file`; none when
// no line names it (nobody holds it, or /proc/locks is not there, or the
// file system names its device otherwise).
std::optional<int> flockHolderOf(const struct stat& file) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:5678 0 EOF"; a waiter's
        // line reads "1: -> FLOCK ...".
        std::istringstream fields(line);
        std::string number, kind, advisory, mode, pid, where;
        if (!(fields >> number >> kind >> advisory >> mode >> pid >> where)) continue;
        if (kind != "FLOCK" || mode != "WRITE") continue;
        unsigned major = 0;
        unsigned minor = 0;
        uintmax_t inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%" SCNuMAX, &major, &minor, &inode) != 3) continue;
        if (major == ::major(file.st_dev) && minor == ::minor(file.st_dev) && inode == file.st_ino) {
            return parseRecordPid(pid);
        }
    }
    return std::nullopt;
}

// Whether process `pid` has `file` open (a look this user may not have for
// another user's process: then no).
bool hasOpen(int pid, const struct stat& file) {
    std::error_code error;
    for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end; !error && it != end;
         it.increment(error)) {
        struct stat status {};
        if (::stat(it->path().c_str(), &status) == 0 && status.st_dev == file.st_dev && status.st_ino == file.st_ino) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string formatLockRecord(const LockRecord& record) {
    std::string text = record.pid ? std::to_string(*record.pid) + "\n" : std::string("\n");
    const std::string socket = record.socket.string();
    if (!socket.empty() && socket.find('\n') == std::string::npos) text += std::string(kSocketKey) + socket + "\n";
    if (record.ending) text += std::string(kEnding) + "\n";
    return text;
}

LockRecord parseLockRecord(std::string_view text) {
    LockRecord record;
    bool first = true;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string line(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (first) {
            record.pid = parseRecordPid(line);
            first = false;
        } else if (line.starts_with(kSocketKey)) {
            const fs::path socket = line.substr(kSocketKey.size());
            if (socket.is_absolute()) record.socket = socket;
        } else if (line == kEnding) {
            record.ending = true;
        }
    }
    return record;
}

LockRecord readLockRecord(int lockFd) {
    std::string text(kLongestRecord, '\0');
    const ssize_t n = lockFd >= 0 ? ::pread(lockFd, text.data(), text.size(), 0) : -1;
    if (n <= 0 || static_cast<size_t>(n) >= text.size()) return {};
    text.resize(static_cast<size_t>(n));
    return parseLockRecord(text);
}

void writeLockRecord(int lockFd, const LockRecord& record) {
    const std::string text = formatLockRecord(record);
    if (::ftruncate(lockFd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(lockFd, text.data(), text.size(), 0);
    }
}

std::optional<int> lockHolder(int lockFd) {
    struct stat file {};
    if (lockFd < 0 || ::fstat(lockFd, &file) != 0) return std::nullopt;
    if (const std::optional<int> pid = flockHolderOf(file)) return pid;
    const std::optional<int> named = readLockRecord(lockFd).pid;
    if (named && hasOpen(*named, file)) return named;
    return std::nullopt;
}

}  // namespace lumenhollow
