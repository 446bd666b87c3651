// The real lumenhollow-demo program in child processes on an X server of the
// test's own: it starts with its 1152x648 window, and every signal that asks
// it to quit ends it through the orderly quit with status 0, also when its
// camera never finishes stopping; "Quit and Reopen" starts exactly one new
// process; keys, drags and the wheel on its picture turn and zoom the
// simulated camera.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
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

// The simulated camera's pose as the demo reports it.
struct ReportedPose {
    uint64_t sample = 0;
    double pan = 0;
    double tilt = 0;
    double zoom = 0;
};

std::optional<ReportedPose> parsePose(const std::string& text) {
    ReportedPose pose;
    unsigned long long sample = 0;
    if (std::sscanf(text.c_str(), "sample %llu pan %lf tilt %lf zoom %lf", &sample, &pose.pan, &pose.tilt,
                    &pose.zoom) != 4) {
        return std::nullopt;
    }
    pose.sample = sample;
    return pose;
}

std::string describe(const ReportedPose& pose) {
    return "pan " + std::to_string(pose.pan) + ", tilt " + std::to_string(pose.tilt) + ", zoom " +
           std::to_string(pose.zoom);
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
    std::filesystem::path poseFile() const { return folder_ / "pose"; }
    std::optional<ReportedPose> pose() const { return parsePose(readFile(poseFile())); }

    // The pose once it has stayed the same over several reports (the camera
    // has stopped turning), within 10 s.
    std::optional<ReportedPose> settledPose() {
        std::optional<ReportedPose> still;
        std::optional<ReportedPose> latest;
        const bool settled = waitFor(
            [&] {
                latest = pose();
                if (!latest) return false;
                if (!still || latest->pan != still->pan || latest->tilt != still->tilt || latest->zoom != still->zoom) {
                    still = latest;
                    return false;
                }
                return latest->sample >= still->sample + 3;
            },
            10s);
        return settled ? latest : std::nullopt;
    }

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

TEST_F(DemoProcessTest, ItsPictureOpensAt1152By648UnderTheMenuBar) {
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
    // 1152 wide, and 648 for the picture plus the menu bar's rows (one line
    // of menu text, however the font sets it).
    int width = 0;
    int height = 0;
    const auto at = geometry.find("Geometry: ");
    ASSERT_NE(at, std::string::npos) << geometry;
    ASSERT_EQ(std::sscanf(geometry.c_str() + at, "Geometry: %dx%d", &width, &height), 2) << geometry;
    EXPECT_EQ(width, 1152) << geometry;
    EXPECT_GT(height, 648 + 10) << geometry;
    EXPECT_LT(height, 648 + 40) << geometry;
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

TEST_F(DemoProcessTest, KeysDragsAndTheWheelOnThePictureTurnAndZoomTheCamera) {
    if (!hollowkit::XvfbServer::xdotoolProgram()) GTEST_SKIP() << "xdotool is not installed";
    using Commands = std::vector<std::vector<std::string>>;
    // Each row starts with the pointer at the picture's centre and the window
    // focused; `press` runs, the named axis must move by at least `least` in
    // the row's direction, then `release` runs and the camera must come to
    // rest with the other axes where they were. Rows run in order on one
    // process, each against the pose the previous one left.
    const struct {
        const char* name;
        Commands press;
        Commands release;
        double ReportedPose::*axis;
        int direction;
        double least;
    } cases[] = {
        {"held Right arrow turns right", {{"keydown", "Right"}}, {{"keyup", "Right"}}, &ReportedPose::pan, +1, 1.0},
        {"held Up arrow turns up", {{"keydown", "Up"}}, {{"keyup", "Up"}}, &ReportedPose::tilt, +1, 1.0},
        // The picture follows the pointer: dragging it left turns the camera right.
        {"drag to the left turns right",
         {{"mousedown", "1"}, {"mousemove_relative", "--", "-60", "0"}, {"mousemove_relative", "--", "-60", "0"}},
         {{"mouseup", "1"}},
         &ReportedPose::pan,
         +1,
         2.0},
        {"drag downwards turns up",
         {{"mousedown", "1"}, {"mousemove_relative", "--", "0", "60"}, {"mousemove_relative", "--", "0", "60"}},
         {{"mouseup", "1"}},
         &ReportedPose::tilt,
         +1,
         2.0},
        // Four notches make one zoom step.
        {"wheel up zooms in", {{"click", "--repeat", "8", "4"}}, {}, &ReportedPose::zoom, +1, 1.0},
        {"wheel down zooms out", {{"click", "--repeat", "4", "5"}}, {}, &ReportedPose::zoom, -1, 1.0},
    };

    // A returning user: no welcome sheet over the picture to take the pointer.
    std::filesystem::create_directories(folder_ / "config" / "lumenhollow");
    std::ofstream(folder_ / "config" / "lumenhollow" / "settings.json") << R"({"welcomed": true})";
    start({"LUMENHOLLOW_DEMO_POSE_FILE=" + poseFile().string()});
    std::string window;
    ASSERT_TRUE(waitFor([&] {
        const hollowkit::CommandResult found = xvfb_.xdotool({"search", "--onlyvisible", "--name", "^Lumenhollow$"});
        window = found.output.substr(0, found.output.find('\n'));
        return found.status == 0 && !window.empty();
    })) << log();
    // The pose is reported once the picture is live.
    std::optional<ReportedPose> before = settledPose();
    ASSERT_TRUE(before.has_value()) << log();

    const auto run = [&](const std::vector<std::string>& arguments) {
        const hollowkit::CommandResult result = xvfb_.xdotool(arguments);
        EXPECT_EQ(result.status, 0) << testing::PrintToString(arguments) << ": " << result.output;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // As a user would: the pointer over the picture, the window holding the keyboard.
        run({"mousemove", "--window", window, "576", "324"});
        run({"windowfocus", "--sync", window});
        for (const auto& command : c.press) run(command);
        std::optional<ReportedPose> during;
        const bool moved = waitFor(
            [&] {
                during = pose();
                return during && c.direction * (*during.*c.axis - *before.*c.axis) >= c.least;
            },
            10s);
        for (const auto& command : c.release) run(command);
        ASSERT_TRUE(moved) << "from " << describe(*before) << " to " << (during ? describe(*during) : "nothing")
                           << "\n"
                           << log();
        const std::optional<ReportedPose> after = settledPose();
        ASSERT_TRUE(after.has_value()) << "the camera kept turning\n" << log();
        EXPECT_GE(c.direction * (*after.*c.axis - *before.*c.axis), c.least) << describe(*after);
        for (const auto other : {&ReportedPose::pan, &ReportedPose::tilt, &ReportedPose::zoom}) {
            if (other != c.axis) {
                EXPECT_NEAR(*after.*other, *before.*other, 0.2) << describe(*after);
            }
        }
        before = after;
    }
    ::kill(child_, SIGTERM);
    EXPECT_EQ(waitForExit(20s), std::optional<int>(0)) << log();
}

}  // namespace
}  // namespace lumenhollow
