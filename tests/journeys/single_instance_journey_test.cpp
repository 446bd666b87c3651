// One program per home: under openbox, with the program's window behind
// another window and then minimised, a second start of the program on the
// same home brings the running one's window forward and ends with status 0,
// leaving the first running alone.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

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

    JourneyApp first(desktop_, "first", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(first.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << first.describe();
    const std::optional<ScreenWindow> window = mainWindowOf(desktop_, first.pid(), kMainWindowWidth);
    ASSERT_TRUE(window) << first.describe();
    const std::string& ours = window->id;

    struct Step {
        const char* name;
        // Puts the window out of the way; whether it did.
        std::function<bool()> away;
    };
    std::optional<CoverWindow> cover;
    const Step steps[] = {
        {"behind another window",
         [&] {
             cover.emplace(desktop_.x().displayName(), window->rect, kOtherWindowColour);
             return cover->made() && waitFor([&] { return activeWindow(desktop_) == cover->id(); });
         }},
        {"minimised",
         [&] {
             return xdotool(desktop_, {"windowminimize", "--sync", ours}) &&
                    waitFor([&] { return activeWindow(desktop_) != ours; });
         }},
    };
    int starts = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_TRUE(step.away()) << "active " << activeWindow(desktop_);
        JourneyApp second(desktop_, "second-" + std::to_string(++starts), LUMENHOLLOW_DEMO_PATH);
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

}  // namespace
}  // namespace lumenhollow::journey
