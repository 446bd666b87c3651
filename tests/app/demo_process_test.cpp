// The real lumenhollow-demo program in child processes on an X server of the
// test's own: it starts with its 1152x648 window, and every signal that asks
// it to quit ends it through the orderly quit with status 0, also when its
// camera never finishes stopping; "Quit and Reopen" starts exactly one new
// process.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/testing/xvfb_server.h"

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls `done` every 20 ms for at most `limit`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class DemoProcessTest : public testing::Test {
protected:
    void SetUp() override {
        if (!hollowkit::XvfbServer::program()) GTEST_SKIP() << "Xvfb is not installed";
        auto started = xvfb_.start(1920, 1080);
        ASSERT_TRUE(started.has_value()) << started.error();
        char pattern[] = "/tmp/lumenhollow-demo-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }

    void TearDown() override {
        for (const pid_t pid : startedPids()) {
            if (::kill(pid, 0) == 0) ::kill(pid, SIGKILL);
        }
        if (child_ > 0) ::waitpid(child_, nullptr, 0);
        std::error_code error;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
    }

    // Starts the demo with the extra environment variables `extra`.
    void start(const std::vector<std::string>& extra) {
        std::vector<std::string> environment;
        for (char** variable = environ; *variable; ++variable) {
            const std::string entry = *variable;
            // The in-process tests' platform must not reach the real program.
            if (entry.rfind("QT_QPA_PLATFORM=", 0) == 0 || entry.rfind("DISPLAY=", 0) == 0 ||
                entry.rfind("XDG_CONFIG_HOME=", 0) == 0 || entry.rfind("LUMENHOLLOW_", 0) == 0) {
                continue;
            }
            environment.push_back(entry);
        }
        environment.push_back("DISPLAY=" + xvfb_.displayName());
        environment.push_back("XDG_CONFIG_HOME=" + (folder_ / "config").string());
        environment.push_back("LUMENHOLLOW_DEMO_PIDFILE=" + pidFile().string());
        for (const auto& entry : extra) environment.push_back(entry);
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        const std::string log = (folder_ / "demo.log").string();
        child_ = ::fork();
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            char* argv[] = {const_cast<char*>(LUMENHOLLOW_DEMO_PATH), nullptr};
            ::execve(LUMENHOLLOW_DEMO_PATH, argv, envp.data());
            ::_exit(127);
        }
    }

    std::filesystem::path pidFile() const { return folder_ / "pids"; }
    std::string log() const { return readFile(folder_ / "demo.log"); }

    // The processes that reached their event loop, in order.
    std::vector<pid_t> startedPids() const {
        std::vector<pid_t> pids;
        std::istringstream lines(readFile(pidFile()));
        std::string word;
        int pid = 0;
        while (lines >> word >> pid) pids.push_back(pid);
        return pids;
    }

    // The child's exit status once it has ended, within `limit`.
    std::optional<int> waitForExit(std::chrono::milliseconds limit) {
        int status = 0;
        const bool ended = waitFor([&] { return ::waitpid(child_, &status, WNOHANG) == child_; }, limit);
        if (!ended) return std::nullopt;
        child_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    static bool gone(pid_t pid) {
        if (::kill(pid, 0) != 0) return true;
        // Ended, waiting for a parent that is not this test to collect it.
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        const auto close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
    }

    hollowkit::XvfbServer xvfb_;
    std::filesystem::path folder_;
    pid_t child_ = -1;
};

TEST_F(DemoProcessTest, EachQuitSignalEndsItThroughTheOrderlyQuitWithStatusZero) {
    const struct {
        const char* name;
        int signal;
        std::vector<std::string> environment;
        bool cameraStops;
    } cases[] = {
        {"SIGTERM", SIGTERM, {}, true},
        {"SIGINT", SIGINT, {}, true},
        {"SIGHUP", SIGHUP, {}, true},
        {"SIGTERM, a camera never stopping", SIGTERM, {"LUMENHOLLOW_DEMO_STOP=never"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code error;
        std::filesystem::remove(pidFile(), error);
        std::filesystem::remove(folder_ / "demo.log", error);
        start(c.environment);
        ASSERT_TRUE(waitFor([&] { return !startedPids().empty(); })) << log();
        ASSERT_EQ(::kill(child_, c.signal), 0);
        // The fallback ends a stuck camera's wait after 3 s; the bound is for a loaded machine.
        const std::optional<int> status = waitForExit(20s);
        ASSERT_TRUE(status.has_value()) << "still running\n" << log();
        EXPECT_EQ(*status, 0) << log();
        const bool fallback = log().find("The camera did not stop within 3 s") != std::string::npos;
        EXPECT_EQ(fallback, !c.cameraStops) << log();
    }
}

TEST_F(DemoProcessTest, ItsWindowOpensAt1152By648) {
    if (!hollowkit::XvfbServer::xdotoolProgram()) GTEST_SKIP() << "xdotool is not installed";
    start({});
    ASSERT_TRUE(waitFor([&] { return !startedPids().empty(); })) << log();
    std::string geometry;
    ASSERT_TRUE(waitFor([&] {
        const hollowkit::CommandResult found =
            xvfb_.xdotool({"search", "--onlyvisible", "--name", "^Lumenhollow$", "getwindowgeometry"});
        geometry = found.output;
        return found.status == 0 && geometry.find("Geometry:") != std::string::npos;
    })) << geometry;
    EXPECT_NE(geometry.find("Geometry: 1152x648"), std::string::npos) << geometry;
    ::kill(child_, SIGTERM);
    EXPECT_EQ(waitForExit(20s), std::optional<int>(0)) << log();
}

TEST_F(DemoProcessTest, QuitAndReopenStartsExactlyOneNewProcess) {
    start({"LUMENHOLLOW_DEMO_REOPEN=1"});
    const std::optional<int> status = waitForExit(60s);
    ASSERT_TRUE(status.has_value()) << "the first process did not end\n" << log();
    EXPECT_EQ(*status, 0) << log();
    ASSERT_TRUE(waitFor([&] { return startedPids().size() >= 2; })) << log();
    std::this_thread::sleep_for(500ms);  // room for a wrong third start to show
    const std::vector<pid_t> pids = startedPids();
    ASSERT_EQ(pids.size(), 2u) << log();
    EXPECT_NE(pids[0], pids[1]);
    // The new process is not asked to reopen again, and quits when told.
    ASSERT_EQ(::kill(pids[1], SIGTERM), 0);
    EXPECT_TRUE(waitFor([&] { return gone(pids[1]); }, 20s)) << log();
    EXPECT_EQ(startedPids().size(), 2u);
}

}  // namespace
}  // namespace lumenhollow
