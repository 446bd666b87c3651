#include "hollowkit/base/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Caps the size of any file this process writes, the way a full disk would
// stop a write partway. The signal the kernel sends at the cap is ignored so
// the write fails with EFBIG instead.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

TEST(AtomicFileTest, ReplacesTheFileWholeAsAnOrdinaryDocument) {
    testsupport::TempDir dir;
    const fs::path file = dir.path() / "Camera.json";
    const mode_t oldMask = ::umask(077);  // the file's mode must not hang on the umask
    ASSERT_TRUE(writeFileAtomically(file, "first").has_value());
    ASSERT_TRUE(writeFileAtomically(file, "second, longer").has_value());
    ::umask(oldMask);
    EXPECT_EQ(readFile(file), "second, longer");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"Camera.json"});
}

// Whatever fails, the earlier file keeps its text and no temporary is left
// beside it.
TEST(AtomicFileTest, AFailedWriteLeavesTheOldFileAndNoPartialOne) {
    const std::string big(64 * 1024, 'x');
    struct Case {
        const char* what;
        std::function<void(const fs::path& folder)> arrange;  // may be empty
        fs::path target;  // relative to the folder
        std::string data;
        std::errc expected;
    };
    const Case cases[] = {
        {"disk full partway", {}, "Camera.json", big, std::errc::file_too_large},
        {"a folder in the way", [](const fs::path& f) { fs::create_directory(f / "Taken"); }, "Taken", "new",
         std::errc::is_a_directory},
        {"no such folder", {}, fs::path("Missing") / "Camera.json", "new", std::errc::no_such_file_or_directory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        std::ofstream(dir.path() / "Camera.json") << "old text";
        if (c.arrange) c.arrange(dir.path());
        const std::vector<std::string> before = entries(dir.path());

        Result<void, std::error_code> result;
        if (c.data.size() > 4096) {
            ScopedFileSizeLimit limit(4096);
            result = writeFileAtomically(dir.path() / c.target, c.data);
        } else {
            result = writeFileAtomically(dir.path() / c.target, c.data);
        }
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error(), std::make_error_code(c.expected)) << result.error().message();
        EXPECT_EQ(readFile(dir.path() / "Camera.json"), "old text");
        EXPECT_EQ(entries(dir.path()), before);
    }
}

// Looked at from the signal a write past the file size cap raises, while the
// temporary is written: only system calls there.
int gFolderForSignal = -1;
volatile sig_atomic_t gTemporaryLock = 0;  // 0 not seen, 1 free, 2 held

void lookAtTemporary(int) {
    const int savedErrno = errno;  // the interrupted write's error must come through
    alignas(8) static char buffer[4096];
    ::lseek(gFolderForSignal, 0, SEEK_SET);
    const long size = ::syscall(SYS_getdents64, gFolderForSignal, buffer, sizeof buffer);
    for (long at = 0; at < size;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += entry->d_reclen;
        if (std::strncmp(entry->d_name, ".Cursor.json.", 13) != 0) continue;
        const int fd = ::openat(gFolderForSignal, entry->d_name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            gTemporaryLock = 1;
        } else if (errno == EWOULDBLOCK) {
            gTemporaryLock = 2;
        }
        ::close(fd);
    }
    errno = savedErrno;
}

// A program sharing the folder clears the hidden temporaries nobody holds
// (a killed writer's): the one being written is held all along.
TEST(AtomicFileTest, TheTemporaryIsHeldWhileItIsWritten) {
    testsupport::TempDir dir;
    gFolderForSignal = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(gFolderForSignal, 0);
    gTemporaryLock = 0;
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct sigaction look {};
    look.sa_handler = lookAtTemporary;
    struct sigaction oldAction {};
    ::sigaction(SIGXFSZ, &look, &oldAction);
    rlimit limit = old;
    limit.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto result = writeFileAtomically(dir.path() / "Cursor.json", std::string(64 * 1024, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::sigaction(SIGXFSZ, &oldAction, nullptr);
    ::close(gFolderForSignal);
    EXPECT_FALSE(result.has_value());
    EXPECT_EQ(gTemporaryLock, 2);
    EXPECT_TRUE(entries(dir.path()).empty());
}

}  // namespace
}  // namespace hollowkit
