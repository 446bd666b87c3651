// One program per home: under openbox, with the program's window behind
// another window and then minimised, a second start of the program on the
// same home brings the running one's window forward and ends with status 0,
// leaving the first running alone. With the running program stopped
// (SIGSTOP), a second start says so in a window of its own and ends with
// status 1 once it is closed, and a relaunched start waiting for the
// stopped program's end ends at once on SIGTERM.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/journey_windows.h"

namespace lumenhollow::journey {
namespace {

constexpr const char* kOpenboxProgram = "/usr/bin/openbox";
// The main window is at least as wide as its picture.
constexpr int kMainWindowWidth = 1152;
constexpr uint32_t kOtherWindowColour = 0x00FF00;

class SingleInstanceJourney : public ReturningUserJourney {};

TEST_F(SingleInstanceJourney, ASecondStartBringsTheRunningWindowForwardAndEnds) {
    if (::access(kOpenboxProgram, X_OK) != 0) GTEST_SKIP() << "openbox is not installed";
    JourneyApp openbox(desktop_, "openbox", kOpenboxProgram, {}, {"--sm-disable"});
    ASSERT_TRUE(waitFor([&] { return windowManagerRuns(desktop_.x().displayName()); }))
        << "openbox did not start: " << openbox.log();

    // Runtime folders of this user's alone: the first program's session's,
    // and another session's, whose starts still reach it.
    const auto runtimeFolder = [this](const char* name) {
        const std::filesystem::path folder = desktop_.home() / name;
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace);
        return "XDG_RUNTIME_DIR=" + folder.string();
    };
    const std::string firstSession = runtimeFolder("runtime");
    const std::string otherSession = runtimeFolder("other-runtime");
    JourneyApp first(desktop_, "first", LUMENHOLLOW_DEMO_PATH, {firstSession});
    ASSERT_TRUE(first.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << first.describe();
    const std::optional<ScreenWindow> window = mainWindowOf(desktop_, first.pid(), kMainWindowWidth);
    ASSERT_TRUE(window) << first.describe();
    const std::string& ours = window->id;

    struct Step {
        const char* name;
        // Puts the window out of the way; whether it did.
        std::function<bool()> away;
        std::string session;
    };
    std::optional<CoverWindow> cover;
    const Step steps[] = {
        {"behind another window",
         [&] {
             cover.emplace(desktop_.x().displayName(), window->rect, kOtherWindowColour);
             return cover->made() && waitFor([&] { return activeWindow(desktop_) == cover->id(); });
         },
         firstSession},
        {"minimised, from a session with another runtime folder",
         [&] {
             return xdotool(desktop_, {"windowminimize", "--sync", ours}) &&
                    waitFor([&] { return activeWindow(desktop_) != ours; });
         },
         otherSession},
    };
    int starts = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_TRUE(step.away()) << "active " << activeWindow(desktop_);
        JourneyApp second(desktop_, "second-" + std::to_string(++starts), LUMENHOLLOW_DEMO_PATH, {step.session});
        EXPECT_EQ(second.waitForExit(60s), std::optional<int>(0)) << second.log();
        EXPECT_NE(second.log().find("already runs"), std::string::npos) << second.log();
        EXPECT_TRUE(waitFor([&] { return activeWindow(desktop_) == ours; }))
            << "the running window did not come forward; active " << activeWindow(desktop_);
        EXPECT_TRUE(visibleWindowOfWidth(desktop_, first.pid(), window->rect.width)) << "shown";
        ASSERT_TRUE(first.running()) << first.log();
    }

    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(30s), std::optional<int>(0)) << first.describe();
}

TEST_F(SingleInstanceJourney, AStartMeetingAStoppedProgramSaysSoInAWindowAndEnds) {
    if (::access(kOpenboxProgram, X_OK) != 0) GTEST_SKIP() << "openbox is not installed";
    JourneyApp openbox(desktop_, "openbox", kOpenboxProgram, {}, {"--sm-disable"});
    ASSERT_TRUE(waitFor([&] { return windowManagerRuns(desktop_.x().displayName()); }))
        << "openbox did not start: " << openbox.log();
    // The desktop's runtime folder, this user's alone, where the programs meet.
    const std::filesystem::path runtime = desktop_.home() / "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    const std::string runtimeEntry = "XDG_RUNTIME_DIR=" + runtime.string();

    JourneyApp first(desktop_, "first", LUMENHOLLOW_DEMO_PATH, {runtimeEntry});
    ASSERT_TRUE(first.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << first.describe();
    first.signal(SIGSTOP);
    const std::string pid = std::to_string(first.pid());

    {
        SCOPED_TRACE("a relaunched start, waiting for the stopped program's end");
        JourneyApp relaunched(desktop_, "relaunched", LUMENHOLLOW_DEMO_PATH,
                              {runtimeEntry, "LUMENHOLLOW_RELAUNCHED_FROM=" + pid});
        ASSERT_TRUE(waitFor([&] { return relaunched.log().find("Waiting for the Lumenhollow") != std::string::npos; }))
            << relaunched.log();
        relaunched.signal(SIGTERM);
        // Its wait would last two minutes.
        EXPECT_EQ(relaunched.waitForExit(30s), std::optional<int>(0)) << relaunched.log();
        EXPECT_NE(relaunched.log().find("Asked to end while waiting"), std::string::npos) << relaunched.log();
    }
    {
        SCOPED_TRACE("a plain start");
        // The windows already there (xdotool's search by process also
        // yields windows that carry no process id).
        std::set<std::string> before;
        for (const ScreenWindow& window : visibleWindows(desktop_, first.pid())) before.insert(window.id);
        JourneyApp second(desktop_, "second", LUMENHOLLOW_DEMO_PATH, {runtimeEntry});
        std::optional<ScreenWindow> told;
        ASSERT_TRUE(waitFor([&] {
            for (const ScreenWindow& window : visibleWindows(desktop_, second.pid())) {
                std::string title;
                if (!before.contains(window.id) && xdotool(desktop_, {"getwindowname", window.id}, &title) &&
                    title.find("Lumenhollow") != std::string::npos) {
                    told = window;
                }
            }
            return told.has_value();
        })) << "no window told the person; " << second.log();
        EXPECT_TRUE(second.running()) << "it waits for the person";
        const std::string log = second.log();
        EXPECT_NE(log.find("already running on these settings, but it does not answer"), std::string::npos) << log;
        EXPECT_NE(log.find("kill -CONT " + pid), std::string::npos) << log;
        EXPECT_NE(log.find("kill -KILL " + pid), std::string::npos) << log;
        // Closed by the person: its default button.
        ASSERT_TRUE(xdotool(desktop_, {"windowactivate", "--sync", told->id}));
        ASSERT_TRUE(xdotool(desktop_, {"key", "--clearmodifiers", "Return"}));
        EXPECT_EQ(second.waitForExit(30s), std::optional<int>(1)) << second.log();
    }

    // Let go on, the first never knew.
    first.signal(SIGCONT);
    ASSERT_TRUE(first.running()) << first.log();
    first.signal(SIGTERM);
    EXPECT_EQ(first.waitForExit(30s), std::optional<int>(0)) << first.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
