#pragma once

// What the settings store's tests share: a folder of their own in a
// temporary home, a clock, and helpers for the files beside the settings.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>

#include "hollowkit/base/unique_fd.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/platform/base64.h"
#include "lumenhollow/testing/file_test_support.h"

namespace lumenhollow::settings_test {

namespace fs = std::filesystem;
using hollowkit::ManualClock;
using hollowkit::testsupport::LogCapture;
using hollowkit::testsupport::TempDir;
using nlohmann::json;
using test::FilesAsNobody;
using test::ScopedEnv;

// ManualClock's calendar start, 2024-05-01 12:00:00, read in UTC.
inline constexpr const char* kAsideName = "settings.json.corrupt-20240501-120000";

inline void writeFile(const fs::path& path, std::string_view text, fs::perms perms = fs::perms(0644)) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(path, perms);
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// Every path below `folder`, relative to it.
inline std::set<std::string> treeOf(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        names.insert(entry.path().lexically_relative(folder).string());
    }
    return names;
}

// Bytes this process has read so far, through any call.
inline uint64_t bytesReadByProcess() {
    std::ifstream io("/proc/self/io");
    std::string name;
    uint64_t value = 0;
    while (io >> name >> value) {
        if (name == "rchar:") return value;
    }
    return 0;
}

// A Unix socket at `path`, as a careless script could leave in a file's place.
inline void makeSocket(const fs::path& path) {
    fs::create_directories(path.parent_path());
    hollowkit::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.native().size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
}

// While this lives, opening anything fails with EMFILE: the soft limit on
// descriptors sits at the lowest free one.
class DescriptorsUsedUp {
public:
    DescriptorsUsedUp() {
        ::getrlimit(RLIMIT_NOFILE, &old_);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        rlimit limit = old_;
        limit.rlim_cur = static_cast<rlim_t>(lowestFree);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    ~DescriptorsUsedUp() { ::setrlimit(RLIMIT_NOFILE, &old_); }
    DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
    DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

private:
    rlimit old_{};
};

class JsonSettingsStoreTest : public ::testing::Test {
protected:
    fs::path folder() const { return dir_.path() / "config" / "lumenhollow"; }
    fs::path file() const { return folder() / "settings.json"; }

    ScopedEnv timeZone_{"TZ", "UTC"};
    TempDir dir_;
    ManualClock clock_;
};

}  // namespace lumenhollow::settings_test
