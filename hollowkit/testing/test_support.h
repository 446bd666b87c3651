#pragma once

// Fixtures the test binaries of every folder share: a temporary folder, a
// log capture through PocketLog's test sink, and descriptor and thread
// counts for leak checks.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/pocket_log.h"

namespace hollowkit::testsupport {

// A fresh folder under the system's temporary directory, removed with all it
// holds (even where a test took away its permissions). Aborts when none can
// be made: no test can run without it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder; nothing is created.
    std::string file(std::string_view name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Installs itself as PocketLog's sink for its lifetime and keeps the system
// form of each line (without the time prefix); the standard sink comes back
// on destruction. Create and destroy it while no other thread logs; reading
// is safe from any thread while the code under test logs.
class LogCapture final : public LogSink {
public:
    LogCapture();
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void writeConsole(std::string_view) override {}
    void writeSystem(std::string_view message) override;

    std::vector<std::string> lines() const;
    // Lines that contain `needle`.
    int count(std::string_view needle) const;
    bool contains(std::string_view needle) const { return count(needle) > 0; }
    void clear();

private:
    mutable Mutex mutex_;
    std::vector<std::string> lines_ HK_GUARDED_BY(mutex_);
};

// The descriptors this process holds open.
int openDescriptors();

// The descriptors this process holds open on `file` itself (a folder held
// open, say), wherever it was moved since; -1 when `file` is not there.
int descriptorsOf(const std::filesystem::path& file);

// The library's own threads (OS names starting "HK."). Sanitizer runtimes and
// codec libraries start helper threads whenever they please, so the
// process-wide count says nothing about what the code under test left behind.
int libraryThreadCount();

// Each thread of this process on a line of its own: its OS name, its
// scheduler state and what it waits in ("HK.MovieWriter S futex_wait_queue"),
// for a test that gives up on work that never ended to say where it stood.
std::string describeThreads();

}  // namespace hollowkit::testsupport
