// The desktop backend against a fake file manager on a private bus, and,
// without one, against a fake xdg-open on the search path.

#include "lumenhollow/platform/linux/freedesktop_desktop.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "hollowkit/testing/bounded_child.h"
#include "hollowkit/testing/private_dbus_daemon.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/testing/fake_session_services.h"
#include "hollowkit/testing/silent_bus.h"

namespace lumenhollow {
namespace {

using hollowkit::testsupport::LogCapture;
using hollowkit::testsupport::TempDir;
using namespace std::chrono_literals;

std::string readDesktopFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls (bounded) until the file holds `expected`.
testing::AssertionResult fileBecomes(const std::filesystem::path& path, const std::string& expected) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
        text = readDesktopFile(path);
        if (text == expected) return testing::AssertionSuccess();
        std::this_thread::sleep_for(5ms);
    }
    return testing::AssertionFailure() << path << " holds \"" << text << "\"";
}

// Polls (bounded) until the file's lines are `expected` in any order: the
// order in which programs started apart append to one file is nobody's to
// promise.
testing::AssertionResult fileHoldsLines(const std::filesystem::path& path, std::vector<std::string> expected) {
    std::ranges::sort(expected);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    std::string text;
    while (std::chrono::steady_clock::now() < deadline) {
        text = readDesktopFile(path);
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        std::ranges::sort(lines);
        if (!text.empty() && text.back() == '\n' && lines == expected) return testing::AssertionSuccess();
        std::this_thread::sleep_for(5ms);
    }
    return testing::AssertionFailure() << path << " holds \"" << text << "\"";
}

// An xdg-open that writes its arguments to xdg-open.log, then (when
// `waits`) stays until a file "release" appears, as xdg-open does for the
// program it started when no desktop environment is known, and writes "done".
// Started for `holdBack`, it writes its line only once another one is in
// the log. Each wait also ends once the test's folder is gone (the test
// ended without releasing it), and after ten minutes should the folder be
// left behind.
void writeFakeXdgOpen(const TempDir& dir, bool waits, const std::string& holdBack = {}) {
    const std::string log = dir.file("xdg-open.log");
    const auto waitWhile = [&](const std::string& condition) {
        return "i=0\nwhile " + condition + " && [ -d '" + dir.path().string() +
               "' ] && [ $i -lt 12000 ]; do sleep 0.05; i=$((i+1)); done\n";
    };
    std::string script = "#!/bin/sh\n";
    if (!holdBack.empty()) {
        script += "if [ \"$1\" = '" + holdBack + "' ]; then\n" + waitWhile("[ ! -s '" + log + "' ]") + "fi\n";
    }
    script += "printf 'open %s\\n' \"$@\" >> '" + log + "'\n";
    if (waits) {
        script += waitWhile("[ ! -e '" + dir.file("release") + "' ]");
        script += "echo done >> '" + log + "'\n";
    }
    std::ofstream(dir.file("xdg-open")) << script;
    ::chmod(dir.file("xdg-open").c_str(), 0755);
}

bool haveBus() { return hollowkit::PrivateDbusDaemon::program().has_value(); }

TEST(FreedesktopDesktopTest, TheFileManagerShowsTheFolderOrTheFileAndXdgOpenTakesOverWithoutIt) {
    if (!haveBus()) GTEST_SKIP() << "no dbus-daemon on this machine";
    const std::filesystem::path file = "/tmp/Lumen hollow/Video 1.mov";
    const std::filesystem::path folder = "/tmp/Lumen hollow";
    const struct {
        const char* name;
        bool fileManager;
        bool reveal;
        std::vector<std::string> busCalls;
        std::string xdgOpenLog;
    } cases[] = {
        {"open, file manager", true, false, {"ShowFolders file:///tmp/Lumen%20hollow|"}, ""},
        {"reveal, file manager", true, true, {"ShowItems file:///tmp/Lumen%20hollow/Video%201.mov|"}, ""},
        {"open, none", false, false, {}, "open /tmp/Lumen hollow\n"},
        {"reveal, none: the folder holding it", false, true, {}, "open /tmp/Lumen hollow\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hollowkit::PrivateDbusDaemon daemon;
        ASSERT_TRUE(daemon.start());
        FakeSessionServices services({.fileManager = c.fileManager});
        ASSERT_TRUE(services.start(daemon.address()));
        TempDir bin;
        writeFakeXdgOpen(bin, false);
        {
            // However slowly the bus answers, the request is not cut short.
            FreedesktopDesktop desktop(
                {.sessionBusAddress = daemon.address(), .searchPath = bin.path().string(), .endTimeout = 60s});
            c.reveal ? desktop.revealFile(file) : desktop.openFolder(folder);
        }
        EXPECT_EQ(services.calls(), c.busCalls);
        if (c.xdgOpenLog.empty()) {
            EXPECT_FALSE(std::filesystem::exists(bin.file("xdg-open.log")));
        } else {
            EXPECT_TRUE(fileBecomes(bin.file("xdg-open.log"), c.xdgOpenLog));
        }
    }
}

TEST(FreedesktopDesktopTest, AnXdgOpenThatStaysWithItsProgramIsLeftRunningAndHoldsUpNothing) {
    // The two started apart write their lines in either order.
    const struct {
        const char* name;
        std::string holdBack;
    } cases[] = {{"in the order asked for", ""}, {"the second one first", "/tmp/a"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir bin;
        writeFakeXdgOpen(bin, true, c.holdBack);
        {
            // No session bus at all.
            FreedesktopDesktop desktop(
                {.sessionBusAddress = "unix:path=/nonexistent/bus", .searchPath = bin.path().string()});
            desktop.revealFile("/tmp/a/b.mov");
            desktop.openFolder("/tmp/c");
        }
        // Both started while the first still runs.
        ASSERT_TRUE(fileHoldsLines(bin.file("xdg-open.log"), {"open /tmp/a", "open /tmp/c"}));
        std::ofstream(bin.file("release")) << "";
        EXPECT_TRUE(fileHoldsLines(bin.file("xdg-open.log"), {"open /tmp/a", "open /tmp/c", "done", "done"}))
            << "neither was ended";
    }
}

// Its owner is told which folder went unshown (for a file, the folder
// holding it), so the person can be told where it is.
TEST(FreedesktopDesktopTest, WithNeitherAFileManagerNorXdgOpenItSaysSoAndShowsNothing) {
    TempDir emptyBin;
    LogCapture log;
    std::vector<std::string> unshown;  // the desktop's queue, joined before it is read
    {
        FreedesktopDesktop desktop({.sessionBusAddress = "unix:path=/nonexistent/bus",
                                    .searchPath = emptyBin.path().string()});
        desktop.setNotShownHandler([&unshown](const std::filesystem::path& folder) { unshown.push_back(folder); });
        desktop.openFolder("/tmp/x");
        desktop.revealFile("/tmp/y/Screen.mov");
    }
    EXPECT_EQ(log.count("xdg-open is not installed"), 2);
    EXPECT_EQ(unshown, (std::vector<std::string>{"/tmp/x", "/tmp/y"}));
}

// A session bus that accepts and never answers: the end does not wait out
// the greeting's limit, and the folder is opened through xdg-open instead.
// In a child held to a bound far below that limit.
TEST(FreedesktopDesktopTest, ABusThatNeverAnswersDoesNotHoldTheEndAndXdgOpenTakesOver) {
    TempDir bin;
    writeFakeXdgOpen(bin, false);
    const auto outcome = hollowkit::testsupport::runInChild(
        [&bin] {
            hollowkit::testsupport::SilentBus silent;
            if (!silent.listening()) return 2;
            {
                FreedesktopDesktop desktop({.sessionBusAddress = silent.address(),
                                            .searchPath = bin.path().string(),
                                            .connectTimeout = std::chrono::minutes(10)});
                desktop.openFolder("/tmp/x");
                if (!silent.waitForClient(20s)) return 3;
            }
            return 0;
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(outcome.finished) << "the end waited for a bus that never answers";
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(fileBecomes(bin.file("xdg-open.log"), "open /tmp/x\n"));
}

}  // namespace
}  // namespace lumenhollow
