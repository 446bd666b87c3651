// A main window closed and opened again: under openbox, the main window is
// closed with the window manager's close button (the program keeps running
// in the island, the default), and opened again each of the three ways a
// person has: the tray menu's "Show Lumenhollow", the open island's window
// button, and a second start of the program. Each new window shows the
// camera's live picture in the middle of its preview, as the first did, is
// the active window, and has the first one's size.
//
// The tray is a private one (tray_host.h), as in the island's journey.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/journey_windows.h"
#include "tests/journeys/screen_measures.h"
#include "tests/journeys/tray_host.h"

namespace lumenhollow::journey {
namespace {

constexpr const char* kReopenOpenbox = "/usr/bin/openbox";
constexpr int kReopenScreenWidth = 1920;
constexpr int kReopenScreenHeight = 1080;
// The main window is at least as wide as its picture.
constexpr int kReopenWindowWidth = 1152;
// The middle of the preview that is read: clear of the bars and the rail.
constexpr int kReopenMiddleWidth = 240;
constexpr int kReopenMiddleHeight = 120;
// The demonstration scene in the middle of the preview is lit (a mean
// brightness near 80); a preview left black reads 0.
constexpr double kReopenLitMean = 24;
constexpr double kReopenLitShare = 0.5;
// Reports the program makes with its window closed before it is opened
// again: frames keep coming meanwhile, with nothing to show them.
constexpr uint64_t kReopenClosedReports = 10;

// The middle of a window's preview, from its own area on the screen.
ScreenRect reopenPreviewMiddle(const ScreenRect& client) {
    return {client.centreX() - kReopenMiddleWidth / 2, client.centreY() - kReopenMiddleHeight / 2, kReopenMiddleWidth, kReopenMiddleHeight};
}

class ReopenedWindowJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        if (auto missing = TrayHost::missingTool()) GTEST_SKIP() << *missing;
        if (::access(kReopenOpenbox, X_OK) != 0) GTEST_SKIP() << "openbox is not installed";
        desktop_.start(kReopenScreenWidth, kReopenScreenHeight);
        const std::optional<std::string> trayFailed = tray_.start();
        ASSERT_FALSE(trayFailed) << *trayFailed;
        storeWelcomed(desktop_);
    }

    // Waits for the middle of the program's main window to show the lit
    // picture; its mean brightness is left in `mean`.
    bool showsPicture(pid_t pid, double& mean) {
        mean = -1;
        return waitFor(
            [&] {
                const std::optional<ScreenWindow> window = mainWindowOf(desktop_, pid, kReopenWindowWidth);
                const std::optional<ScreenRect> client = window ? clientArea(desktop_, window->id) : std::nullopt;
                if (!client) return false;
                const std::vector<uint8_t> middle = captureBrightness(desktop_, reopenPreviewMiddle(*client));
                if (middle.empty()) return false;
                mean = meanOf(middle);
                return mean > kReopenLitMean && shareAtLeast(middle, 16) > kReopenLitShare;
            },
            30s);
    }

    // Closes the program's main window with the close button of openbox's
    // frame (the rightmost of the title bar), and waits until it has gone.
    bool closeWithTheFramesButton(pid_t pid, std::string& why) {
        const std::optional<ScreenWindow> window = mainWindowOf(desktop_, pid, kReopenWindowWidth);
        if (!window) return (why = "no main window"), false;
        const std::optional<FramedWindow> frame =
            settledFrame(desktop_, window->id, [](const FramedWindow& f) { return f.extents.top > 0; }, 30s);
        if (!frame || frame->extents.top <= 0) return (why = "the window has no frame"), false;
        // Clearlooks: the buttons are square, as tall as the title less its
        // padding, the close button last, a border and a padding from the edge.
        const int button = frame->extents.top - 6;
        const int x = frame->right() - frame->extents.right - 3 - button / 2;
        const int y = frame->top() + frame->extents.top / 2;
        if (!xdotool(desktop_, {"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"})) {
            return (why = "xdotool failed"), false;
        }
        const bool gone = waitFor([&] {
            for (const ScreenWindow& shown : visibleWindows(desktop_, pid)) {
                if (shown.id == window->id) return false;
            }
            return true;
        });
        if (!gone) why = "the window stayed after a click at " + std::to_string(x) + "," + std::to_string(y);
        // The pointer leaves the place the window was, for the island's sake.
        xdotool(desktop_, {"mousemove", "--sync", std::to_string(kReopenScreenWidth / 2),
                           std::to_string(kReopenScreenHeight - 40)});
        return gone;
    }

    JourneyDesktop desktop_;
    TrayHost tray_;
};

TEST_F(ReopenedWindowJourney, AWindowClosedByTheWindowManagerShowsThePictureWhenOpenedAgainEachWay) {
    JourneyApp openbox(desktop_, "openbox", kReopenOpenbox, {}, {"--sm-disable"});
    ASSERT_TRUE(waitFor([&] { return windowManagerRuns(desktop_.x().displayName()); }))
        << "openbox did not start: " << openbox.log();

    JourneyApp app(desktop_, "reopened", LUMENHOLLOW_DEMO_PATH, {tray_.environment()});
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["picture"] == true && s["islandRect"].is_object() && s["closeBehavior"] == "keepInNotch";
        },
        90s))
        << app.describe();
    ASSERT_TRUE(waitFor([&] { return !tray_.items().empty(); })) << "no tray icon; " << app.describe();
    const std::string item = tray_.items().front();
    const ScreenRect island = *reportedArea(app.state()["islandRect"]);

    double mean = -1;
    ASSERT_TRUE(showsPicture(app.pid(), mean)) << "the first window shows no picture: mean " << mean;
    const std::optional<ScreenWindow> firstWindow = mainWindowOf(desktop_, app.pid(), kReopenWindowWidth);
    ASSERT_TRUE(firstWindow);
    const ScreenRect firstClient = clientArea(desktop_, firstWindow->id).value_or(ScreenRect{});

    struct Way {
        const char* name;
        // Opens the window again; an error says why it could not.
        std::function<std::optional<std::string>()> open;
    };
    int starts = 0;
    const Way ways[] = {
        {"the tray's Show Lumenhollow", [&] { return tray_.clickRow(item, "Show Lumenhollow"); }},
        {"the island's window button",
         [&]() -> std::optional<std::string> {
             if (!app.moveOnScreen(island.centreX(), island.centreY()) ||
                 !app.waitForState([](const nlohmann::json& s) { return s["islandWindowButton"].is_object(); })) {
                 return "the island did not open with its window button; " + app.describe();
             }
             const ScreenRect button = *reportedArea(app.state()["islandWindowButton"]);
             if (!app.clickOnScreen(button.centreX(), button.centreY())) return "xdotool failed";
             return std::nullopt;
         }},
        {"a second start",
         [&]() -> std::optional<std::string> {
             JourneyApp second(desktop_, "second-" + std::to_string(++starts), LUMENHOLLOW_DEMO_PATH,
                               {tray_.environment()});
             const std::optional<int> status = second.waitForExit(60s);
             if (status != std::optional<int>(0)) return "the second start did not end with 0: " + second.log();
             return std::nullopt;
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        std::string why;
        ASSERT_TRUE(closeWithTheFramesButton(app.pid(), why)) << why << "; " << app.describe();
        // Frames come while no window is there to show them.
        const uint64_t closedAt = app.state()["sample"].get<uint64_t>();
        ASSERT_TRUE(app.waitForState(
            [&](const nlohmann::json& s) { return s["sample"].get<uint64_t>() >= closedAt + kReopenClosedReports; },
            60s))
            << app.describe();
        ASSERT_TRUE(app.running()) << "closing the window ended the program; " << app.describe();

        const std::optional<std::string> failed = way.open();
        ASSERT_FALSE(failed) << *failed;
        ASSERT_TRUE(mainWindowOf(desktop_, app.pid(), kReopenWindowWidth)) << "no window came; " << app.describe();
        EXPECT_TRUE(showsPicture(app.pid(), mean))
            << "the window opened again shows no picture: mean brightness " << mean << " in its middle";
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; })) << app.describe();
        // The window is the active one, so the sizer (attached to the window
        // that becomes active) keeps it in the picture's shape as the first.
        const std::optional<ScreenWindow> reopened = mainWindowOf(desktop_, app.pid(), kReopenWindowWidth);
        ASSERT_TRUE(reopened);
        EXPECT_TRUE(waitFor([&] { return activeWindow(desktop_) == reopened->id; }))
            << "the window opened again is not the active one; active " << activeWindow(desktop_);
        const auto asFirst = [&](const FramedWindow& f) {
            return f.client.width == firstClient.width && f.client.height == firstClient.height;
        };
        const std::optional<FramedWindow> framed = settledFrame(desktop_, reopened->id, asFirst, 15s);
        ASSERT_TRUE(framed) << "the window opened again was never framed";
        EXPECT_TRUE(asFirst(*framed)) << "the window opened again is " << framed->client.width << " x "
                                      << framed->client.height << ", the first was " << firstClient.width << " x "
                                      << firstClient.height;
    }

    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
