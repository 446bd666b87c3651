// The menu bar's keys from the screen-recording options, with the real
// keyboard (XTEST, to whatever holds it: no window is activated first), on
// a bare desktop and under openbox. Over USB with "Record Screen Too" off,
// Ctrl+R starts a recording and the next Ctrl+R stops it while the options
// stay open, their button waiting disabled as it records; Ctrl+/ then opens
// the keyboard shortcuts and closes the options, and Return closes the
// shortcuts.

#include <unistd.h>
#include <xcb/xcb.h>

#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/x11/xcb_connection.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/journey_windows.h"

namespace lumenhollow::journey {
namespace {

constexpr const char* kKeysOpenbox = "/usr/bin/openbox";
constexpr int kScreenOptionsWidth = 360;
// The window's width on the desktop's screen, its picture's.
constexpr int kWindowWidth = 1152;
// Reports (a tenth of a second each) a recording runs before it is stopped.
constexpr uint64_t kRecordingReports = 5;

class PopoverKeysJourney : public ReturningUserJourney, public testing::WithParamInterface<bool> {};

TEST_P(PopoverKeysJourney, CtrlRStopsWhatItStartedFromTheScreenOptionsAndASheetTakesTheKeys) {
    const bool underOpenbox = GetParam();
    std::optional<JourneyApp> openbox;
    if (underOpenbox) {
        if (::access(kKeysOpenbox, X_OK) != 0) GTEST_SKIP() << "openbox is not installed";
        openbox.emplace(desktop_, "openbox", kKeysOpenbox, std::vector<std::string>{},
                        std::vector<std::string>{"--sm-disable"});
        ASSERT_TRUE(waitFor([&] { return windowManagerRuns(desktop_.x().displayName()); }))
            << "openbox did not start: " << openbox->log();
    }
    JourneyApp app(desktop_, "keys", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["picture"] == true && s["connection"] == "usb" && s["recordScreen"] == false;
        },
        60s))
        << app.describe();
    // The main window: the widest of the program's windows named after it
    // alone (the island may carry that name while it starts), brought
    // forward first, since a click that only activates it does nothing else.
    const std::optional<ScreenWindow> main = mainWindowOf(desktop_, app.pid(), kWindowWidth);
    ASSERT_TRUE(main) << app.describe();
    // Without a window manager nothing activates: the focus is set.
    xdotool(desktop_, {"windowactivate", "--sync", main->id});
    xdotool(desktop_, {"windowfocus", "--sync", main->id});
    const std::optional<ScreenRect> origin = windowOnScreen(desktop_.x().displayName(), main->id);
    ASSERT_TRUE(origin);
    // The button after the record pill: 60 right of the window's middle, 99
    // above its bottom edge.
    ASSERT_TRUE(app.clickOnScreen(origin->x + main->rect.width / 2 + 60, origin->y + main->rect.height - 99));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["screenOptions"] == true; }))
        << app.describe();
    const auto optionsShown = [&] { return visibleWindowOfWidth(desktop_, app.pid(), kScreenOptionsWidth).has_value(); };
    ASSERT_TRUE(waitFor(optionsShown)) << "the options never showed";

    const auto press = [&](const char* keys) {
        return desktop_.x().xdotool({"key", "--clearmodifiers", keys}).status == 0;
    };
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(press("ctrl+r"));
        ASSERT_TRUE(app.waitForRecording(kRecordingReports, 60s)) << "Ctrl+R did not start: " << app.describe();
        EXPECT_EQ(app.state()["screenOptions"], true);
        EXPECT_TRUE(optionsShown()) << "the options closed as it started";
        ASSERT_TRUE(press("ctrl+r"));
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == false; }))
            << "Ctrl+R did not stop: " << app.describe();
        EXPECT_TRUE(optionsShown()) << "the options closed as it stopped";
    }

    ASSERT_TRUE(press("ctrl+slash"));
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) { return s["shortcuts"] == true && s["screenOptions"] == false; }))
        << app.describe();
    EXPECT_TRUE(waitFor([&] { return !optionsShown(); })) << "the options stayed over the sheet";
    ASSERT_TRUE(press("Return"));
    EXPECT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["shortcuts"] == false; }))
        << "Return did not reach the sheet: " << app.describe();
    EXPECT_EQ(app.state()["recording"], false);

    ASSERT_TRUE(press("ctrl+q"));
    EXPECT_EQ(app.waitForExit(120s), std::optional<int>(0)) << app.describe();
}

INSTANTIATE_TEST_SUITE_P(Desktops, PopoverKeysJourney, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& on) { return on.param ? "Openbox" : "Bare"; });

}  // namespace
}  // namespace lumenhollow::journey
