// The tray icon's plain click: it opens the tray's menu where the icon is,
// as the secondary click does, and the menu works from the keyboard: its
// last row, Quit, ends the program with status 0.
//
// The tray is a private one (tray_host.h), as in the island's journey. It
// draws no icon, so the click is what a panel makes of one (the item's
// Activate), made with the pointer resting where the panel would draw the
// icon, as it rests after a person's click there.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/tray_host.h"

namespace lumenhollow::journey {
namespace {

constexpr int kTrayClickScreenWidth = 1280;
constexpr int kTrayClickScreenHeight = 800;
// A panel along the top of the screen, its icons at the right end.
constexpr ScreenPoint kTrayIconAt{kTrayClickScreenWidth - 40, 10};

bool holds(const ScreenRect& rect, ScreenPoint point) {
    return rect.x <= point.x && point.x < rect.x + rect.width && rect.y <= point.y && point.y < rect.y + rect.height;
}

class TrayClickJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        if (auto missing = TrayHost::missingTool()) GTEST_SKIP() << *missing;
        desktop_.start(kTrayClickScreenWidth, kTrayClickScreenHeight);
        const std::optional<std::string> trayFailed = tray_.start();
        ASSERT_FALSE(trayFailed) << *trayFailed;
        storeWelcomed(desktop_);
    }

    JourneyDesktop desktop_;
    TrayHost tray_;
};

TEST_F(TrayClickJourney, APlainClickOnTheIconOpensItsMenuWhoseQuitEndsTheProgram) {
    JourneyApp app(desktop_, "tray-click", LUMENHOLLOW_DEMO_PATH, {tray_.environment()});
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 90s))
        << app.describe();
    ASSERT_TRUE(waitFor([&] { return !tray_.items().empty(); })) << "no tray icon; " << app.describe();
    const std::string item = tray_.items().front();

    std::vector<std::string> before;
    for (const ScreenWindow& shown : visibleWindows(desktop_, app.pid())) before.push_back(shown.id);
    ASSERT_TRUE(xdotool(desktop_, {"mousemove", "--sync", std::to_string(kTrayIconAt.x),
                                   std::to_string(kTrayIconAt.y)}));
    const std::optional<std::string> failed = tray_.clickIcon(item, kTrayIconAt.x, kTrayIconAt.y);
    ASSERT_FALSE(failed) << *failed;

    // A new window of the program, over the icon: the menu.
    std::optional<ScreenWindow> menu;
    waitFor([&] {
        for (const ScreenWindow& shown : visibleWindows(desktop_, app.pid())) {
            if (std::find(before.begin(), before.end(), shown.id) == before.end() && holds(shown.rect, kTrayIconAt)) {
                menu = shown;
            }
        }
        return menu.has_value();
    });
    ASSERT_TRUE(menu) << "the icon's click opened no menu at the icon; " << app.describe();

    // The pointer leaves the menu, so no row is under it; the last row is Quit.
    ASSERT_TRUE(xdotool(desktop_, {"mousemove", "--sync", std::to_string(kTrayClickScreenWidth / 2),
                                   std::to_string(kTrayClickScreenHeight - 40)}));
    for (const char* key : {"Up", "Return"}) ASSERT_TRUE(xdotool(desktop_, {"key", key}));
    EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
