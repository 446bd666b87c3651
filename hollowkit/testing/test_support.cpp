#include "hollowkit/testing/test_support.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "hollowkit/base/mutex.h"

namespace hollowkit::testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hk-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
}

TempDir::~TempDir() {
    // Tests of unwritable folders take the owner's rights away; give them
    // back so the removal reaches everything.
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
}

LogCapture::LogCapture() { PocketLog::setSinkForTesting(this); }

LogCapture::~LogCapture() { PocketLog::setSinkForTesting(nullptr); }

void LogCapture::writeSystem(std::string_view message) {
    MutexLock lock(mutex_);
    lines_.emplace_back(message);
}

std::vector<std::string> LogCapture::lines() const {
    MutexLock lock(mutex_);
    return lines_;
}

int LogCapture::count(std::string_view needle) const {
    MutexLock lock(mutex_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
        return line.find(needle) != std::string::npos;
    }));
}

void LogCapture::clear() {
    MutexLock lock(mutex_);
    lines_.clear();
}

int openDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
        ::closedir(dir);
    }
    return count - 1;  // the listing's own descriptor
}

int descriptorsOf(const std::filesystem::path& file) {
    struct stat wanted {};
    if (::stat(file.c_str(), &wanted) != 0) return -1;
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            struct stat open {};
            const std::string path = std::string("/proc/self/fd/") + entry->d_name;
            count += ::stat(path.c_str(), &open) == 0 && open.st_dev == wanted.st_dev && open.st_ino == wanted.st_ino;
        }
        ::closedir(dir);
    }
    return count;
}

int libraryThreadCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            const std::string path = std::string("/proc/self/task/") + entry->d_name + "/comm";
            if (FILE* comm = std::fopen(path.c_str(), "r")) {
                char name[32] = {};
                if (std::fgets(name, sizeof name, comm)) count += std::string_view(name).starts_with("HK.");
                std::fclose(comm);
            }
        }
        ::closedir(dir);
    }
    return count;
}

namespace {

// The first line of a /proc file, without its line end; empty when unreadable.
std::string firstLineOf(const std::string& path) {
    std::string line;
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        char buffer[256] = {};
        if (std::fgets(buffer, sizeof buffer, file)) line = buffer;
        std::fclose(file);
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

std::string describeThreads() {
    std::string described;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            const std::string task = std::string("/proc/self/task/") + entry->d_name;
            // The state follows the parenthesised name, which may hold spaces.
            const std::string stat = firstLineOf(task + "/stat");
            const size_t nameEnd = stat.rfind(')');
            const std::string state = nameEnd != std::string::npos && nameEnd + 2 < stat.size()
                                          ? stat.substr(nameEnd + 2, 1)
                                          : "?";
            const std::string wchan = firstLineOf(task + "/wchan");
            described += firstLineOf(task + "/comm") + " " + state + " " + (wchan.empty() ? "-" : wchan) + "\n";
        }
        ::closedir(dir);
    }
    return described;
}

}  // namespace hollowkit::testsupport
