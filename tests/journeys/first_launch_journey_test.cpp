// First launch: on a fresh home the welcome sheet opens, and its "Keyboard
// Shortcuts" button closes it and opens the shortcuts sheet, never the two
// at once; quitting with Ctrl+Q ends the program with status 0, and the
// second launch, with the settings the first one stored, shows neither and
// has the demonstration camera's microphone.

#include <signal.h>

#include <gtest/gtest.h>

#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {
namespace {

class FirstLaunchJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        desktop_.start();
    }

    JourneyDesktop desktop_;
};

TEST_F(FirstLaunchJourney, WelcomeThenShortcutsOnceAndNeitherOnTheSecondLaunch) {
    {
        JourneyApp first(desktop_, "first", LUMENHOLLOW_DEMO_PATH);
        bool together = false;
        ASSERT_TRUE(first.waitForState([&](const nlohmann::json& s) {
            together = together || (s["welcome"] == true && s["shortcuts"] == true);
            return s["welcome"] == true && s["picture"] == true;
        })) << first.describe();

        // "Keyboard Shortcuts" on the welcome card, where it sits over a
        // 1152x648 picture under the menu bar.
        ASSERT_TRUE(first.clickInWindow(437, 542));
        ASSERT_TRUE(first.waitForState([&](const nlohmann::json& s) {
            together = together || (s["welcome"] == true && s["shortcuts"] == true);
            return s["welcome"] == false && s["shortcuts"] == true;
        })) << first.describe();
        EXPECT_FALSE(together) << "the two sheets were open at once";

        ASSERT_TRUE(first.key("Escape"));
        ASSERT_TRUE(first.waitForState([](const nlohmann::json& s) { return s["shortcuts"] == false; }))
            << first.describe();
        ASSERT_TRUE(first.key("ctrl+q"));
        EXPECT_EQ(first.waitForExit(30s), std::optional<int>(0)) << first.describe();
    }

    JourneyApp second(desktop_, "second", LUMENHOLLOW_DEMO_PATH);
    bool sheetShown = false;
    uint64_t firstLive = 0;
    nlohmann::json microphone;
    // Two seconds of reports once the picture is live: the shortcuts would
    // have followed a welcome within a third of one.
    ASSERT_TRUE(second.waitForState(
        [&](const nlohmann::json& s) {
            sheetShown = sheetShown || s["welcome"] == true || s["shortcuts"] == true;
            microphone = s["microphone"];
            if (s["picture"] != true) return false;
            if (firstLive == 0) firstLive = s["sample"].get<uint64_t>();
            return s["sample"].get<uint64_t>() >= firstLive + 20;
        },
        60s))
        << second.describe();
    EXPECT_FALSE(sheetShown) << second.describe();
    // The demonstration camera brings a microphone of its own.
    EXPECT_EQ(microphone, "Demo Camera Microphone") << second.describe();
    second.signal(SIGTERM);
    EXPECT_EQ(second.waitForExit(30s), std::optional<int>(0)) << second.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
