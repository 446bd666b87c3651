// A take of the screen and the camera under a window manager (openbox, as
// Debian ships it), the main window on the recorded display in openbox's
// frame: a press on the window's title bar (the window manager's frame,
// which the screen recording leaves out with the window) is recorded over
// the app and never zooms the combined movie; a press on another program's
// window does. The screen is on from the stored settings, so Record (Ctrl+R)
// makes the take.
//
// The screen is split in two; the right half, the main display, is
// recorded. Its wallpaper is a backdrop with a block in the middle, which
// the recording shows under our window. The other program's window is
// white and stands over ours in the middle of the display: unzoomed, points
// just outside it show the block; zoomed in on a press at its middle, they
// show it.

#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/recording/cursor_timeline.h"
#include "hollowkit/x11/xcb_connection.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/journey_windows.h"
#include "tests/journeys/screen_measures.h"
#include "tests/recording/screen_test_support.h"

// Named: the journeys are built in unity batches, where anonymous
// namespaces of several files meet.
namespace lumenhollow::journey::title_bar_take {
namespace {

namespace hk = hollowkit;
using hk::testsupport::colorNear;

constexpr const char* kOpenbox = "/usr/bin/openbox";
// Each half of the screen; the right one is recorded.
constexpr int kHalfWidth = 1280;
constexpr int kHeight = 720;
constexpr hk::RgbColor kBackdrop{230, 0, 230};
constexpr hk::RgbColor kBlock{0, 200, 60};
constexpr hk::ColorBlock kMiddleBlock{400, 200, 480, 320, kBlock};
constexpr hk::RgbColor kWhite{255, 255, 255};
constexpr int kColourTolerance = 40;
// Where our window's client goes on the recorded display, its title bar
// above it, clear of the screen's top.
constexpr int kWindowX = 64;
constexpr int kWindowY = 30;
// Along the title bar from its left end: on its label, clear of the icon
// and the buttons.
constexpr int kTitleBarPressX = 200;
// The other program's window, asked for in the middle of the recorded
// display (its frame may shift it a little).
constexpr ScreenRect kOther{520, 280, 240, 160};
// How far beside the other window the zoom probes lie.
constexpr int kProbeMargin = 15;

// The height of the window manager's frame above window `id` (the top of
// its _NET_FRAME_EXTENTS); nothing before the window manager said.
std::optional<int> frameTop(const std::string& display, const std::string& id) {
    auto connection = hk::x11::openConnection(display);
    if (!connection) return std::nullopt;
    xcb_connection_t* c = connection->get();
    const uint32_t extents = hk::x11::internAtom(c, "_NET_FRAME_EXTENTS");
    const auto window = static_cast<uint32_t>(std::stoul(id));
    const auto reply =
        hk::x11::ask(xcb_get_property_reply, c, xcb_get_property(c, 0, window, extents, XCB_ATOM_CARDINAL, 0, 4));
    if (!reply || xcb_get_property_value_length(reply.get()) < 16) return std::nullopt;
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return static_cast<int>(values[2]);
}

// The program's main window: its window named after it alone that the
// window manager framed (the island may carry the same name while it
// starts, but it has no frame).
std::optional<std::string> mainWindowOf(JourneyDesktop& desktop, pid_t pid) {
    std::optional<std::string> found;
    waitFor([&] {
        std::string output;
        if (!xdotool(desktop, {"search", "--onlyvisible", "--pid", std::to_string(pid), "--name", "^Lumenhollow$"},
                     &output)) {
            return false;
        }
        std::istringstream ids(output);
        for (std::string id; std::getline(ids, id);) {
            if (!id.empty() && frameTop(desktop.x().displayName(), id)) found = id;
        }
        return found.has_value();
    });
    return found;
}

// Keys pressed in window `id`, brought forward first.
bool keyInWindow(JourneyDesktop& desktop, const std::string& id, const std::string& keys) {
    return xdotool(desktop, {"windowactivate", "--sync", id}) &&
           xdotool(desktop, {"key", "--clearmodifiers", keys});
}

// A left-button press held a fifth of a second, as a hand holds it (the
// pointer's record samples the button 60 times a second).
bool holdPressAt(JourneyDesktop& desktop, int x, int y) {
    return xdotool(desktop, {"mousemove", "--sync", std::to_string(x), std::to_string(y), "mousedown", "1", "sleep",
                             "0.2", "mouseup", "1"});
}

class TitleBarTakeJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        if (::access(kOpenbox, X_OK) != 0) GTEST_SKIP() << "openbox is not installed";
        desktop_.start(2 * kHalfWidth, kHeight);
        ASSERT_TRUE(desktop_.x().addMonitors(
            {{"LEFT", 0, 0, kHalfWidth, kHeight, false}, {"RIGHT", kHalfWidth, 0, kHalfWidth, kHeight, true}}));
        hk::ColorBlock block = kMiddleBlock;
        block.x += kHalfWidth;
        // Named as the wallpaper, so what is rebuilt under the program's
        // windows in a recording shows it.
        ASSERT_TRUE(desktop_.x().paint(kBackdrop, {block}, true));
        // A returning user who left the screen on.
        const std::filesystem::path settings = desktop_.configHome() / "lumenhollow" / "settings.json";
        std::filesystem::create_directories(settings.parent_path());
        std::ofstream(settings) << R"({"welcomed": true, "recordScreen": true})" << '\n';
    }

    JourneyDesktop desktop_;
};

TEST_F(TitleBarTakeJourney, APressOnOurTitleBarNeverZoomsAndOneOnAnotherProgramsWindowDoes) {
    JourneyApp openbox(desktop_, "openbox", kOpenbox, {}, {"--sm-disable"});
    ASSERT_TRUE(waitFor([&] { return windowManagerRuns(desktop_.x().displayName()); }))
        << "openbox did not start: " << openbox.log();
    JourneyApp app(desktop_, "title-bar-take", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
        << app.describe();
    ASSERT_EQ(app.state()["recordScreen"], true) << "the stored settings should turn the screen on";
    const std::optional<std::string> ours = mainWindowOf(desktop_, app.pid());
    ASSERT_TRUE(ours) << app.describe();
    const std::string display = desktop_.x().displayName();
    // On the recorded display, its title bar too.
    ASSERT_TRUE(xdotool(desktop_, {"windowmove", "--sync", *ours, std::to_string(kHalfWidth + kWindowX),
                                   std::to_string(kWindowY)}));
    std::optional<int> top;
    std::optional<ScreenRect> moved;
    ASSERT_TRUE(waitFor([&] {
        moved = windowOnScreen(display, *ours);
        top = frameTop(display, *ours);
        return moved && top && *top > 0 && moved->x >= kHalfWidth && moved->y - *top >= 0;
    })) << "our window and its title bar should stand on the recorded display: "
        << (moved ? std::to_string(moved->x) + "," + std::to_string(moved->y) : "nowhere") << ", title bar "
        << (top ? std::to_string(*top) : "unknown");

    // Record, from the keyboard.
    ASSERT_TRUE(keyInWindow(desktop_, *ours, "ctrl+r"));
    uint64_t startedAt = 0;
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            startedAt = s["sample"].get<uint64_t>();
            return s["recording"] == true;
        },
        60s))
        << app.describe();
    const auto reportReaches = [&](uint64_t sample) {
        return app.waitForState([&](const nlohmann::json& s) { return s["sample"].get<uint64_t>() >= sample; });
    };

    // Another program's window comes up over ours (the window manager raises
    // what it maps), and shows.
    CoverWindow otherWindow(display, {kOther.x + kHalfWidth, kOther.y, kOther.width, kOther.height}, 0xFFFFFF);
    ASSERT_TRUE(otherWindow.made());
    ScreenRect other;
    ASSERT_TRUE(waitFor([&] {
        const std::optional<ScreenRect> at = windowOnScreen(display, otherWindow.id());
        if (!at) return false;
        other = *at;
        const std::optional<ScreenPicture> shown = readScreen(display, {other.centreX(), other.centreY(), 1, 1});
        return shown && !shown->pixels.empty() && shown->at(0, 0) == 0xFFFFFF;
    })) << "the other program's window never showed";
    ASSERT_GE(other.x, kHalfWidth) << "the other program's window should stand on the recorded display";

    // Three seconds in by the report's clock, a press on the other window's
    // middle; five seconds later, when its zoom is long over, one on our
    // title bar; four seconds after that, Ctrl+R stops the take.
    ASSERT_TRUE(reportReaches(startedAt + 30)) << app.describe();
    ASSERT_TRUE(holdPressAt(desktop_, other.centreX(), other.centreY()));
    ASSERT_TRUE(reportReaches(startedAt + 80)) << app.describe();
    const std::optional<ScreenRect> placed = windowOnScreen(display, *ours);
    ASSERT_TRUE(placed);
    const int titleBarX = placed->x + kTitleBarPressX;
    const int titleBarY = placed->y - *top / 2;
    if (const std::optional<ScreenRect> strip = reportedArea(app.state()["islandRect"])) {
        ASSERT_FALSE(titleBarX >= strip->x - 20 && titleBarX < strip->x + strip->width + 20)
            << "the press would meet the island's strip";
    }
    ASSERT_TRUE(holdPressAt(desktop_, titleBarX, titleBarY));
    ASSERT_TRUE(reportReaches(startedAt + 120)) << app.describe();
    ASSERT_TRUE(keyInWindow(desktop_, *ours, "ctrl+r"));
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["recording"] == false && s["composing"] == false && s["screenTake"].is_string() &&
                   std::filesystem::exists(std::filesystem::path(s["screenTake"].get<std::string>()) /
                                           "Combined.mov");
        },
        180s))
        << "the take was never written: " << app.describe();
    const std::filesystem::path take = app.state()["screenTake"].get<std::string>();

    // The pointer's record: the press on the other window is not over the
    // app, the one on our title bar is. Told apart by where they went on
    // the display.
    const auto cursor = hk::CursorTimeline::load(take / "Cursor.json");
    ASSERT_TRUE(cursor) << cursor.error();
    const auto pressNear = [&](int x, int y) -> std::optional<hk::CursorSample> {
        for (const hk::CursorSample& press : cursor->pressOnsets()) {
            if (std::abs(press.x * kHalfWidth - (x - kHalfWidth)) <= 2 && std::abs(press.y * kHeight - y) <= 2) {
                return press;
            }
        }
        return std::nullopt;
    };
    const std::optional<hk::CursorSample> onOther = pressNear(other.centreX(), other.centreY());
    const std::optional<hk::CursorSample> onTitleBar = pressNear(titleBarX, titleBarY);
    ASSERT_TRUE(onOther) << "no press on the other program's window in the pointer's record";
    ASSERT_TRUE(onTitleBar) << "no press on our title bar in the pointer's record";
    EXPECT_FALSE(onOther->overApp) << "the press on the other program's window";
    EXPECT_TRUE(onTitleBar->overApp) << "the press on our title bar";

    // The combined movie: zoomed in on the other window after the press on
    // it, never after the press on our title bar.
    const std::filesystem::path combined = take / "Combined.mov";
    const int left = other.x - kHalfWidth;
    const int middleX = left + other.width / 2;
    const int middleY = other.centreY();
    // Beside it: the zoom's centre springs from the display's middle towards
    // the press, which lies a little below it.
    const std::vector<std::pair<int, int>> probes{{left - kProbeMargin, middleY},
                                                  {left + other.width + kProbeMargin, middleY}};
    const auto white = [](const hk::testsupport::RgbPicture& picture, int x, int y) {
        return colorNear(picture.at(x, y), kWhite, kColourTolerance);
    };
    const auto pictureAt = [&](double seconds) {
        return hk::testsupport::decodePicture(combined, seconds, kHalfWidth, kHeight);
    };
    const auto unzoomed = [&](const hk::testsupport::RgbPicture& picture) {
        return !picture.pixels.empty() && white(picture, middleX, middleY) &&
               std::ranges::none_of(probes, [&](const auto& p) { return white(picture, p.first, p.second); });
    };
    const auto zoomedOnOther = [&](const hk::testsupport::RgbPicture& picture) {
        return !picture.pixels.empty() &&
               std::ranges::all_of(probes, [&](const auto& p) { return white(picture, p.first, p.second); });
    };
    const auto described = [&](const hk::testsupport::RgbPicture& picture) {
        if (picture.pixels.empty()) return std::string("no picture");
        std::string text;
        for (const auto& [x, y] : {std::pair{middleX, middleY}, probes[0], probes[1]}) {
            const hk::RgbColor c = picture.at(x, y);
            text += " (" + std::to_string(x) + "," + std::to_string(y) + ")=" + std::to_string(c.r) + "," +
                    std::to_string(c.g) + "," + std::to_string(c.b);
        }
        return text;
    };
    EXPECT_TRUE(unzoomed(pictureAt(onOther->time - 1.0)))
        << "the whole display before the first press:" << described(pictureAt(onOther->time - 1.0));
    const bool zooms = std::ranges::any_of(std::vector<double>{0.8, 1.2, 1.6, 2.0}, [&](double after) {
        return zoomedOnOther(pictureAt(onOther->time + after));
    });
    EXPECT_TRUE(zooms) << "the picture should zoom in on the press on the other program's window:"
                       << described(pictureAt(onOther->time + 1.2)) << " at " << onOther->time;
    for (double after : {0.0, 0.8, 1.2, 1.6, 2.0}) {
        EXPECT_TRUE(unzoomed(pictureAt(onTitleBar->time + after)))
            << "the whole display " << after << " s after the press on our title bar:"
            << described(pictureAt(onTitleBar->time + after));
    }

    ASSERT_TRUE(keyInWindow(desktop_, *ours, "ctrl+q"));
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey::title_bar_take
