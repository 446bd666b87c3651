#include "hollowkit/wireless/wifi_password_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "hollowkit/base/pocket_log.h"

namespace hollowkit {
namespace {

// A cleaner of another instance may take a fresh file between mkstemp and
// our lock; then a new name is tried.
constexpr int kCreateAttempts = 3;

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

WiFiPasswordFile::~WiFiPasswordFile() {
    // Unlinked while still locked, so no cleaner can see it unheld first.
    ::unlink(path_.c_str());
}

std::string WiFiPasswordFile::defaultDirectory() {
    const char* runtime = ::getenv("XDG_RUNTIME_DIR");
    return (runtime != nullptr && runtime[0] == '/') ? runtime : "/tmp";
}

std::unique_ptr<WiFiPasswordFile> WiFiPasswordFile::create(const std::string& directory,
                                                           const std::string& password) {
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::string path = directory + "/" + kPrefix + "XXXXXX";
        // mkstemp makes the file with mode 0600.
        UniqueFd fd(::mkostemp(path.data(), O_CLOEXEC));
        if (!fd) {
            PocketLog::logf("Wi-Fi password file could not be made errno=%d", errno);
            return nullptr;
        }
        struct stat status {};
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &status) != 0 || status.st_nlink == 0) {
            continue;  // taken away as stale before we held it
        }
        auto file = std::unique_ptr<WiFiPasswordFile>(new WiFiPasswordFile(path, std::move(fd)));
        if (!writeAll(file->lock_.get(), "802-11-wireless-security.psk:" + password + "\n")) {
            PocketLog::logf("Wi-Fi password file could not be written errno=%d", errno);
            return nullptr;
        }
        return file;
    }
    PocketLog::log("Wi-Fi password file could not be made: removed while being made");
    return nullptr;
}

int WiFiPasswordFile::removeStale(const std::string& directory) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) return 0;
    const int dirFd = ::dirfd(dir.get());
    const std::string_view prefix = kPrefix;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix)) continue;
        // Not following links, not blocking on a FIFO; a file we may not
        // read is not ours anyway.
        UniqueFd fd(::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!fd) continue;
        struct stat opened {};
        if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_uid != ::geteuid()) continue;
        // Held: its join is running now.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        // Still the file we checked under that name.
        struct stat named {};
        if (::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != opened.st_dev ||
            named.st_ino != opened.st_ino) {
            continue;
        }
        if (::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
    }
    if (removed > 0) {
        PocketLog::logf("Removed %d stale Wi-Fi password file(s) from %s", removed, directory.c_str());
    }
    return removed;
}

}  // namespace hollowkit
