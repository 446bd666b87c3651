// The live references of the smallest screen the window is made for (760 x
// 428), with the frozen demonstration: the window without a window manager,
// its controls inside it and under the island's closed strip; under openbox
// on a fresh desktop, its title bar too; after a trip to a larger screen and
// back; and every popover at its fullest there (nine scenes, the camera
// settings with their white balance set by hand, the screen-recording
// options over Wi-Fi with a choice of displays and a last take), each
// wholly on the screen. A press on "Help" opens the menu, not the island.
// The larger screen is a second logical monitor beside the smallest, which
// is the primary one (the island's) and the one pictured.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/journeys/journey_windows.h"
#include "tests/journeys/live_reference_journey.h"

namespace lumenhollow::journey {
namespace {

// The smallest screen the window is made for: the window takes 16:9 of what
// is left under its menu bar.
constexpr int kSmallestScreenWidth = 760;
constexpr int kSmallestScreenHeight = 428;
// The larger monitor beside it.
constexpr int kLargerScreenWidth = 1512;
constexpr int kLargerScreenHeight = 944;
// The island's closed strip without a notch ends 6 + 30 below the screen's
// top; a pointer within 6 more opens it.
constexpr int kIslandStripBottom = 6 + 30 + 6;
// The popovers' windows: the screen-recording options, the camera settings
// and the scenes, each as wide as its content (with its arrow when it opens
// beside its button).
constexpr int kScreenOptionsWidth = 360;
constexpr int kCameraSettingsWidth = 340;
constexpr int kScenesWidth = 380;
constexpr int kPopoverArrow = 8;
// In the window's area: "Help", the menu bar's fourth menu (its middle);
// the scenes pill, left of the folder and the gear at the top row's right
// end, and its row's middle below the bar; the camera settings pill, right
// of the middle of the bottom bar over Wi-Fi, and the bar's middle above
// the window's bottom edge; the screen-recording button after the record
// pill, right of the window's middle and above its bottom edge.
constexpr int kMenuBarRows = 21;
constexpr int kHelpX = 226;
constexpr int kBarMiddle = 10;
constexpr int kScenesFromRight = 12 + 30 + 8 + 30 + 8 + 30;
constexpr int kTopRowMiddle = 8 + 15;
constexpr int kCameraSettingsFromMiddle = 60;
constexpr int kBottomBarMiddle = 12 + 25;
constexpr int kScreenButtonFromMiddle = 60;
// Over Wi-Fi the record pill carries the card's chip and is wider.
constexpr int kScreenButtonFromMiddleOverWifi = 83;
constexpr int kScreenButtonAbove = 99;
// The white balance switch in the camera settings' body, from its top
// right corner.
constexpr int kBalanceSwitchFromRight = 43;
constexpr int kBalanceSwitchFromTop = 283;
// How long a start under a window manager may take on a busy machine.
constexpr std::chrono::milliseconds kStartLimit = 90s;
// How many reports a take records for.
constexpr uint64_t kTakeReports = 20;

const std::vector<hollowkit::LogicalMonitor> kTwoScreens{
    {"SMALLEST", 0, 0, kSmallestScreenWidth, kSmallestScreenHeight, true},
    {"LARGER", kSmallestScreenWidth, 0, kLargerScreenWidth, kLargerScreenHeight, false},
};

bool onSmallestScreen(const ScreenRect& rect) {
    return rect.x >= 0 && rect.y >= 0 && rect.x + rect.width <= kSmallestScreenWidth &&
           rect.y + rect.height <= kSmallestScreenHeight;
}

class SmallScreenJourney : public LiveReferenceJourney {
protected:
    // The main window's area and its frame, once framed and held still where
    // `done` holds (else where it last was).
    using Framed = FramedWindow;
    std::optional<Framed> framedWindow(const std::function<bool(const Framed&)>& done) {
        if (window_.empty() && !findMainWindow()) return std::nullopt;
        return settledFrame(desktop_, window_, done, 20s);
    }

    // The main window: of the program's framed windows named after it (the
    // search meets the island's panel too), the largest.
    bool findMainWindow() {
        return waitFor([&] {
            const hollowkit::CommandResult found = desktop_.x().xdotool(
                {"search", "--onlyvisible", "--pid", std::to_string(app_->pid()), "--name", "^Lumenhollow$"});
            std::optional<ScreenRect> best;
            std::istringstream ids(found.output);
            for (std::string id; std::getline(ids, id);) {
                const std::optional<ScreenRect> rect = clientArea(desktop_, id);
                // Framed by the window manager: not the island's panel.
                if (rect && frameExtents(desktop_, id) && (!best || rect->width * rect->height > best->width * best->height)) {
                    best = rect;
                    window_ = id;
                }
            }
            return best.has_value();
        });
    }

    // Keys sent to the main window, made active (the program's first window
    // by name may be the island's panel).
    bool key(const std::string& keys) {
        if (window_.empty() && !findMainWindow()) return false;
        desktop_.x().xdotool({"windowactivate", "--sync", window_});
        return desktop_.x().xdotool({"key", "--clearmodifiers", keys}).status == 0;
    }

    // The whole frame on the smallest screen, its title bar under the strip.
    static bool fitsUnderTheStrip(const Framed& w) {
        return w.top() >= kIslandStripBottom && w.client.x - w.extents.left >= 0 && w.right() <= kSmallestScreenWidth &&
               w.bottom() <= kSmallestScreenHeight;
    }

    // A press on "Help" opens its menu (a window of the program's own shows
    // over the bar), not the island.
    void pressHelp(const Framed& w) {
        SCOPED_TRACE("Help");
        const size_t before = visibleWindows(desktop_, app_->pid()).size();
        ASSERT_TRUE(app_->clickOnScreen(w.client.x + kHelpX, w.client.y + kBarMiddle));
        EXPECT_TRUE(waitFor([&] { return visibleWindows(desktop_, app_->pid()).size() > before; }, 10s))
            << "no menu opened";
        EXPECT_EQ(app_->state()["island"], false) << "the island opened";
        ASSERT_TRUE(key("Escape"));
        ASSERT_TRUE(waitFor([&] { return visibleWindows(desktop_, app_->pid()).size() == before; }, 10s));
    }

    // The popover window `width` wide (or with its arrow beside it) once it
    // shows; checks it lies wholly on the smallest screen.
    std::optional<ScreenRect> popover(int width) {
        std::optional<ScreenRect> found;
        waitFor([&] {
            found = visibleWindowOfWidth(desktop_, app_->pid(), width);
            if (!found) found = visibleWindowOfWidth(desktop_, app_->pid(), width + kPopoverArrow);
            return found.has_value();
        });
        if (found) {
            EXPECT_TRUE(onSmallestScreen(*found)) << "the popover at " << found->x << "," << found->y << " "
                                                  << found->width << "x" << found->height << " leaves the screen";
        }
        return found;
    }
};

// The window on the smallest screen: every control inside it, the gear,
// the joystick and the bottom bar's last circle too, and all of it under the
// island's closed strip, so a pointer on its way to the title or the menus
// never opens the island over them. The pointer rests on the picture above
// the capture controls. The screen-recording options open beside their
// button: a second click on it reaches the button and closes them.
TEST_F(SmallScreenJourney, TheSmallestWindowLooksAsItsReference) {
    launch(1, true, {}, false, std::pair{kSmallestScreenWidth, kSmallestScreenHeight});
    ASSERT_TRUE(app_->moveOnScreen(200, 200));
    check("window-smallest", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });
    const std::optional<std::string> window = app_->window();
    ASSERT_TRUE(window);
    const std::optional<ScreenRect> rect = windowGeometry(desktop_, *window);
    ASSERT_TRUE(rect);
    EXPECT_LE(rect->x + rect->width, kSmallestScreenWidth);
    EXPECT_LE(rect->y + rect->height, kSmallestScreenHeight);
    EXPECT_GE(rect->y, kIslandStripBottom) << "the island's strip lies over the window's menus";

    // The button after the record pill: 60 right of the window's middle, 99
    // above its bottom edge.
    const int buttonX = rect->width / 2 + 60;
    const int buttonY = rect->height - 99;
    for (const bool open : {true, false}) {
        SCOPED_TRACE(open ? "opening" : "closing");
        ASSERT_TRUE(app_->clickInWindow(buttonX, buttonY));
        ASSERT_TRUE(app_->waitForState([open](const nlohmann::json& s) { return s["screenOptions"] == open; }))
            << app_->describe();
        if (open) {
            std::optional<ScreenRect> options;
            ASSERT_TRUE(waitFor([&] {
                options = visibleWindowOfWidth(desktop_, app_->pid(), kScreenOptionsWidth);
                return options.has_value();
            })) << "the options never showed";
            const int x = rect->x + buttonX;
            const int y = rect->y + buttonY;
            EXPECT_FALSE(x >= options->x && x < options->x + options->width && y >= options->y &&
                         y < options->y + options->height)
                << "the options cover their button";
        }
    }
}

// A fresh desktop under openbox, the program started with it: the window's
// frame, title bar included, under the island's strip and on the screen.
TEST_F(SmallScreenJourney, UnderAWindowManagerTheTitleBarLiesUnderTheStrip) {
    if (!std::filesystem::exists(kLiveWindowManager)) GTEST_SKIP() << "no " << kLiveWindowManager;
    launch(1, true, {}, true, std::pair{kSmallestScreenWidth, kSmallestScreenHeight});
    ASSERT_TRUE(app_->waitForState(liveSettled, kStartLimit)) << app_->describe();
    const std::optional<Framed> w = framedWindow(fitsUnderTheStrip);
    ASSERT_TRUE(w);
    EXPECT_TRUE(fitsUnderTheStrip(*w)) << "the frame from " << w->client.x - w->extents.left << "," << w->top()
                                       << " to " << w->right() << "," << w->bottom();
    ASSERT_TRUE(app_->moveOnScreen(w->client.x + 200, w->client.y + 200));
    check("window-smallest-framed", [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });
    pressHelp(*w);
}

// The window taken to the larger screen beside the smallest and back: fitted
// there again, its title bar under the strip, "Help" reachable.
TEST_F(SmallScreenJourney, ATripToALargerScreenAndBackKeepsTheWindowUnderTheStrip) {
    if (!std::filesystem::exists(kLiveWindowManager)) GTEST_SKIP() << "no " << kLiveWindowManager;
    launch(1, true, {}, true, std::pair{kSmallestScreenWidth + kLargerScreenWidth, kLargerScreenHeight}, kTwoScreens);
    ASSERT_TRUE(app_->waitForState(liveSettled, kStartLimit)) << app_->describe();
    ASSERT_TRUE(framedWindow(fitsUnderTheStrip));
    const struct {
        const char* name;
        int x;
        int y;
        std::function<bool(const Framed&)> there;
    } trip[] = {
        {"to the larger screen", kSmallestScreenWidth + 100, 100,
         [](const Framed& w) { return w.client.x >= kSmallestScreenWidth; }},
        {"back to the smallest", 0, 0, fitsUnderTheStrip},
    };
    std::optional<Framed> w;
    for (const auto& leg : trip) {
        SCOPED_TRACE(leg.name);
        ASSERT_TRUE(xdotool(desktop_, {"windowmove", window_, std::to_string(leg.x), std::to_string(leg.y)}));
        w = framedWindow(leg.there);
        ASSERT_TRUE(w);
        EXPECT_TRUE(leg.there(*w)) << "the window's area at " << w->client.x << "," << w->client.y << " "
                                   << w->client.width << "x" << w->client.height;
    }
    ASSERT_TRUE(app_->moveOnScreen(w->client.x + 200, w->client.y + 200));
    check("window-smallest-after-trip",
          [](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "usb"; });
    pressHelp(*w);
}

// Every popover at its fullest on the smallest screen, each wholly on it:
// nine scenes (the list scrolls), the screen-recording options over Wi-Fi
// with two displays and a last take, the camera settings with the white
// balance set by hand.
TEST_F(SmallScreenJourney, EveryPopoverAtItsFullestLiesOnTheSmallestScreen) {
    if (!std::filesystem::exists(kLiveWindowManager)) GTEST_SKIP() << "no " << kLiveWindowManager;
    JourneyApp& app =
        launch(1, true, {}, true, std::pair{kSmallestScreenWidth + kLargerScreenWidth, kLargerScreenHeight}, kTwoScreens);
    ASSERT_TRUE(app.waitForState(liveSettled, kStartLimit)) << app.describe();
    const std::optional<Framed> framed = framedWindow(fitsUnderTheStrip);
    ASSERT_TRUE(framed);
    const ScreenRect w = framed->client;
    const int restX = w.x + 150;
    const int restY = w.y + 150;

    // Nine scenes, then the scenes pill.
    for (int i = 1; i <= 9; ++i) {
        ASSERT_TRUE(key("ctrl+shift+s"));
        ASSERT_TRUE(app.waitForState([i](const nlohmann::json& s) { return s["scenes"] == i; })) << app.describe();
    }
    ASSERT_TRUE(app.clickOnScreen(w.x + w.width - kScenesFromRight, w.y + kMenuBarRows + kTopRowMiddle));
    ASSERT_TRUE(app.moveOnScreen(restX, restY));
    ASSERT_TRUE(popover(kScenesWidth));
    check("popover-scenes-smallest", [](const nlohmann::json& s) { return s["scenesSheet"] == true; });
    ASSERT_TRUE(key("Escape"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["scenesSheet"] == false; }));

    // A take of the screen and the camera, for the options' last take.
    ASSERT_TRUE(key("ctrl+shift+r"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recordScreen"] == true; })) << app.describe();
    ASSERT_TRUE(key("ctrl+r"));
    ASSERT_TRUE(app.waitForRecording(kTakeReports, 60s)) << app.describe();
    ASSERT_TRUE(key("ctrl+r"));
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["recording"] == false && s["composing"] == false && s["screenTake"].is_string();
        },
        120s))
        << app.describe();
    // Over Wi-Fi: the connection pill's menu, its second row.
    ASSERT_TRUE(chooseFromMenu(desktop_, app,
                               {w.x + w.width / 2 - kCameraSettingsFromMiddle, w.y + w.height - kBottomBarMiddle},
                               std::nullopt, {"Down", "Down", "Return"}));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return liveSettled(s) && s["connection"] == "wireless"; }))
        << app.describe();

    ASSERT_TRUE(
        app.clickOnScreen(w.x + w.width / 2 + kScreenButtonFromMiddleOverWifi, w.y + w.height - kScreenButtonAbove));
    ASSERT_TRUE(app.moveOnScreen(restX, restY));
    ASSERT_TRUE(popover(kScreenOptionsWidth));
    check("popover-screen-options-smallest", [](const nlohmann::json& s) { return s["screenOptions"] == true; });
    ASSERT_TRUE(key("Escape"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["screenOptions"] == false; }));

    ASSERT_TRUE(app.clickOnScreen(w.x + w.width / 2 + kCameraSettingsFromMiddle, w.y + w.height - kBottomBarMiddle));
    std::optional<ScreenRect> settings = popover(kCameraSettingsWidth);
    ASSERT_TRUE(settings);
    ASSERT_TRUE(app.clickOnScreen(settings->x + settings->width - kBalanceSwitchFromRight,
                                  settings->y + kBalanceSwitchFromTop));
    ASSERT_TRUE(app.moveOnScreen(restX, restY));
    ASSERT_TRUE(waitFor([&] {
        const std::optional<ScreenRect> now = popover(kCameraSettingsWidth);
        return now && now->height > settings->height;
    })) << "the white balance's slider never came";
    popover(kCameraSettingsWidth);
    check("popover-camera-settings-smallest", [](const nlohmann::json& s) { return s["cameraSettings"] == true; });
}

}  // namespace
}  // namespace lumenhollow::journey
