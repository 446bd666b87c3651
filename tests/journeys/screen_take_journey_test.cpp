// A take of the screen and the camera, set up from the screen-recording
// panel: its bottom-bar button opens it, its switch turns the screen on and
// its miniature screen places the camera in a corner; the record control
// starts the take, a click on the recorded screen happens during it, and
// the same control stops it. On disk the take folder holds the screen, the
// camera, the pointer's record and the combined movie, whose camera bubble
// sits in the chosen corner and whose picture zooms in at the click. The
// panel then offers the last take: another corner and "Apply Changes"
// rebuild the combined movie with the bubble there.
//
// The screen is split in two: the window sits on the left half, and the
// right half, the main display, is recorded. It is painted a backdrop with
// a block around its middle, where the click goes, so what the movie shows
// of it is known: unzoomed, points left, right and above the block show the
// backdrop; zoomed in on the click, the same points show the block.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/recording/cursor_timeline.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_movies.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/screen_measures.h"
#include "tests/recording/screen_test_support.h"
#include "tests/recording/test_compositor.h"

namespace lumenhollow::journey {
namespace {

namespace hk = hollowkit;
using hk::testsupport::colorNear;

// Each half of the screen.
constexpr int kHalfWidth = 1280;
constexpr int kHeight = 720;
constexpr hk::RgbColor kBackdrop{230, 0, 230};
constexpr hk::RgbColor kBlock{0, 200, 60};
// Around the recorded display's middle, where the click goes.
constexpr hk::ColorBlock kMiddleBlock{400, 200, 480, 320, kBlock};
constexpr int kClickX = kHalfWidth / 2;
constexpr int kClickY = kHeight / 2;
// Encoding and 4:2:0 blur edges.
constexpr int kColourTolerance = 40;

// Where the controls sit in the window (a 1152x648 picture under the menu
// bar, the bar's rows included) and in the 360-wide panel
// (tests/ui/golden/window-usb.png, panel-screen-circle.png).
constexpr int kRecordX = 549;
constexpr int kWindowWidth = 1152;
constexpr int kScreenButtonX = 636;
// With the screen on, the record control carries a "SCREEN" tag and the
// button moves right.
constexpr int kScreenButtonOnX = 672;
constexpr int kCaptureRowY = 570;
constexpr int kPanelWidth = 360;
constexpr int kSwitchX = 325;
constexpr int kSwitchY = 35;
// "Apply Changes", in the block at the panel's foot once there is a take.
constexpr int kApplyX = 294;
constexpr int kApplyFromBottom = 56;
// The popover's arrow under the panel, pointing at the button.
constexpr int kArrowLength = 8;
const std::map<hk::BubbleCorner, std::pair<int, int>> kCornerTargets{
    {hk::BubbleCorner::topLeading, {31, 93}},
    {hk::BubbleCorner::topTrailing, {133, 93}},
    {hk::BubbleCorner::bottomLeading, {31, 146}},
    {hk::BubbleCorner::bottomTrailing, {133, 146}},
};

// Points of the recorded display that show the backdrop unzoomed and the
// block once zoomed in on its middle (1.8 times; 1.6 is enough).
const std::vector<std::pair<int, int>> kZoomProbes{{260, kClickY}, {1020, kClickY}, {kClickX, 120}};

std::string cornerName(hk::BubbleCorner corner) { return std::string(hk::toString(corner)); }

hk::BubbleStyle mediumCircle(hk::BubbleCorner corner) {
    return hk::BubbleStyle(corner, hk::BubbleSize::medium, hk::BubbleShape::circle, hk::BubbleBackground::keep);
}

// Per corner: does the bubble show something else than the backdrop there?
// A grid of points over the middle of the bubble's square, most of which
// must differ (the camera's picture may share a colour with it here and
// there).
std::map<hk::BubbleCorner, bool> bubbleCorners(const hk::testsupport::RgbPicture& picture) {
    std::map<hk::BubbleCorner, bool> shown;
    for (hk::BubbleCorner corner : hk::kAllBubbleCorners) {
        const hk::PixelRect square =
            hk::BubbleCompositor::bubbleSquare(mediumCircle(corner), picture.width, picture.height);
        int differing = 0;
        constexpr int kGrid = 5;
        for (int i = 0; i < kGrid; ++i) {
            for (int j = 0; j < kGrid; ++j) {
                const int x = static_cast<int>(square.x + square.width * (0.25 + 0.5 * i / (kGrid - 1)));
                const int y = static_cast<int>(square.y + square.height * (0.25 + 0.5 * j / (kGrid - 1)));
                if (!colorNear(picture.at(x, y), kBackdrop, kColourTolerance)) ++differing;
            }
        }
        shown[corner] = differing > kGrid * kGrid / 2;
    }
    return shown;
}

std::map<hk::BubbleCorner, bool> onlyIn(hk::BubbleCorner corner) {
    std::map<hk::BubbleCorner, bool> shown;
    for (hk::BubbleCorner each : hk::kAllBubbleCorners) shown[each] = each == corner;
    return shown;
}

// How many zoom probes show `colour`; none in a picture that did not decode.
int probesShowing(const hk::testsupport::RgbPicture& picture, hk::RgbColor colour) {
    if (picture.pixels.empty()) return 0;
    return static_cast<int>(std::ranges::count_if(kZoomProbes, [&](const auto& probe) {
        return static_cast<bool>(colorNear(picture.at(probe.first, probe.second), colour, kColourTolerance));
    }));
}

class ScreenTakeJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        desktop_.start(2 * kHalfWidth, kHeight);
        ASSERT_TRUE(desktop_.x().addMonitors(
            {{"LEFT", 0, 0, kHalfWidth, kHeight, false}, {"RIGHT", kHalfWidth, 0, kHalfWidth, kHeight, true}}));
        hk::ColorBlock block = kMiddleBlock;
        block.x += kHalfWidth;
        // Named as the wallpaper, so what is rebuilt under the program's
        // windows in a recording shows it.
        ASSERT_TRUE(desktop_.x().paint(kBackdrop, {block}, true));
        storeWelcomed(desktop_);
    }

    // The panel's window (a popup of the program's, kPanelWidth wide): its
    // place on the screen.
    std::optional<ScreenRect> panelFrame(JourneyApp& app) {
        std::optional<ScreenRect> panel;
        waitFor(
            [&] {
                panel = visibleWindowOfWidth(desktop_, app.pid(), kPanelWidth);
                return panel.has_value();
            },
            10s);
        return panel;
    }

    // Once its picture is up, the window goes to the left half, off the
    // recorded display.
    void moveOffTheDisplay(JourneyApp& app) {
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 60s))
            << app.describe();
        const std::optional<std::string> window = app.window();
        ASSERT_TRUE(window);
        desktop_.x().xdotool({"windowmove", "--sync", *window, "0", "0"});
        ASSERT_TRUE(waitFor([&] {
            const auto origin = app.windowOrigin();
            return origin && origin->first + kWindowWidth <= kHalfWidth;
        })) << "the window should leave the recorded display";
    }

    // Opens the screen-recording panel from its button and turns the screen
    // on with its switch: the panel, where it went with its button.
    std::optional<ScreenRect> turnScreenOn(JourneyApp& app) {
        EXPECT_TRUE(app.clickInWindow(kScreenButtonX, kCaptureRowY));
        if (!app.waitForState([](const nlohmann::json& s) { return s["screenOptions"] == true; })) {
            ADD_FAILURE() << "no panel: " << app.describe();
            return std::nullopt;
        }
        std::optional<ScreenRect> panel = panelFrame(app);
        if (!panel) {
            ADD_FAILURE() << "no panel on screen";
            return std::nullopt;
        }
        EXPECT_TRUE(app.clickOnScreen(panel->x + kSwitchX, panel->y + kSwitchY));
        if (!app.waitForState([](const nlohmann::json& s) { return s["recordScreen"] == true; })) {
            ADD_FAILURE() << "the screen stayed off: " << app.describe();
            return std::nullopt;
        }
        EXPECT_EQ(app.state()["screenPermissionHelp"], false) << "an X server asks nobody for the screen";
        // The "SCREEN" tag moves the button right, and the panel goes with it.
        const int movedX = panel->x + (kScreenButtonOnX - kScreenButtonX);
        if (!waitFor([&] {
                panel = panelFrame(app);
                return panel && std::abs(panel->x - movedX) <= 2;
            })) {
            ADD_FAILURE() << "the panel stayed behind its button";
            return std::nullopt;
        }
        return panel;
    }

    // What the program is doing with its movies, changing as long as it
    // finishes or composes them: the composition's progress and the files
    // being written.
    std::string movieWork(JourneyApp& app) {
        return app.state()["composeProgress"].dump() + sizesUnder(desktop_.outputFolder());
    }

    // Stops the take with the record control and waits until its combined
    // movie is written, for as long as the program works on its movies: the
    // take's folder, empty when it never was.
    std::filesystem::path stopTake(JourneyApp& app) {
        EXPECT_TRUE(app.clickInWindow(kRecordX, kCaptureRowY));
        const bool written = waitWhileProgressing(
            [&] {
                const nlohmann::json s = app.state();
                return s.is_object() && s["recording"] == false && s["composing"] == false &&
                       s["screenTake"].is_string() &&
                       std::filesystem::exists(std::filesystem::path(s["screenTake"].get<std::string>()) /
                                               "Combined.mov");
            },
            [&] { return movieWork(app); });
        if (!written) {
            ADD_FAILURE() << "the take was never written: " << app.describe();
            return {};
        }
        return app.state()["screenTake"].get<std::string>();
    }

    JourneyDesktop desktop_;
};

TEST_F(ScreenTakeJourney, ATakeFromThePanelHasItsFilesItsCornerAndItsZoomAndIsRebuiltInAnotherCorner) {
    JourneyApp app(desktop_, "take", LUMENHOLLOW_DEMO_PATH);
    moveOffTheDisplay(app);
    if (HasFatalFailure()) return;
    std::optional<ScreenRect> panel = turnScreenOn(app);
    ASSERT_TRUE(panel);
    const hk::BubbleCorner first = hk::BubbleCorner::bottomLeading;
    const auto [firstX, firstY] = kCornerTargets.at(first);
    ASSERT_TRUE(app.clickOnScreen(panel->x + firstX, panel->y + firstY));
    ASSERT_TRUE(app.waitForState([&](const nlohmann::json& s) { return s["bubble"]["corner"] == cornerName(first); }))
        << app.describe();
    ASSERT_EQ(app.state()["bubble"],
              nlohmann::json(
                  {{"corner", cornerName(first)}, {"size", "Medium"}, {"shape", "Circle"}, {"background", "Normal"}}));
    ASSERT_EQ(app.state()["autoZoom"], true);
    ASSERT_TRUE(app.key("Escape"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["screenOptions"] == false; }))
        << app.describe();

    // Record; the take starts with the screen's first picture.
    ASSERT_TRUE(app.clickInWindow(kRecordX, kCaptureRowY));
    uint64_t startedAt = 0;
    ASSERT_TRUE(app.waitForState(
        [&](const nlohmann::json& s) {
            startedAt = s["sample"].get<uint64_t>();
            return s["recording"] == true;
        },
        60s))
        << app.describe();
    // Three seconds in by the report's clock (time for the camera's first
    // pictures to reach the bubble on a busy machine), a click in the
    // recorded display's middle; four seconds later the same control stops
    // it.
    const auto reportReaches = [&](uint64_t sample) {
        return app.waitForState([&](const nlohmann::json& s) { return s["sample"].get<uint64_t>() >= sample; });
    };
    ASSERT_TRUE(reportReaches(startedAt + 30)) << app.describe();
    // Held down a fifth of a second, as a hand does: the pointer's record
    // samples the button 60 times a second and never sees a click that
    // lasts no time at all.
    ASSERT_EQ(desktop_.x()
                  .xdotool({"mousemove", "--sync", std::to_string(kHalfWidth + kClickX), std::to_string(kClickY),
                            "mousedown", "1", "sleep", "0.2", "mouseup", "1"})
                  .status,
              0);
    ASSERT_TRUE(reportReaches(startedAt + 70)) << app.describe();
    const std::filesystem::path take = stopTake(app);
    ASSERT_FALSE(take.empty());
    for (const char* file : {"Screen.mov", "Camera.mov", "Cursor.json", "Combined.mov"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(take / file)) << file << " missing in " << take;
    }
    // The pointer's record holds the click, where it went on the display
    // (the stop's click on the window, off the display, may be there too).
    const auto cursor = hk::CursorTimeline::load(take / "Cursor.json");
    ASSERT_TRUE(cursor) << cursor.error();
    std::vector<hk::CursorSample> clicks = cursor->pressOnsets();
    std::erase_if(clicks, [](const hk::CursorSample& click) {
        return click.overApp || click.x < 0 || click.x > 1 || click.y < 0 || click.y > 1;
    });
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_NEAR(clicks.front().x, 0.5, 0.01);
    EXPECT_NEAR(clicks.front().y, 0.5, 0.01);
    const double clickedAt = clicks.front().time;
    ASSERT_GT(clickedAt, 2.0) << "the click came three seconds into the take";

    const std::filesystem::path combined = take / "Combined.mov";
    std::string unread;
    const std::optional<ProbedMovie> movie = probeMovie(combined, &unread);
    ASSERT_TRUE(movie) << unread;
    ASSERT_EQ(movie->width, kHalfWidth) << "the recorded display is the right half";
    ASSERT_EQ(movie->height, kHeight);
    EXPECT_GT(movie->durationSeconds, clickedAt + 2);
    // Before the click: the whole display, the bubble in its corner.
    const double before = clickedAt - 1.2;
    const auto unzoomed = hk::testsupport::decodePicture(combined, before, kHalfWidth, kHeight);
    ASSERT_FALSE(unzoomed.pixels.empty());
    EXPECT_EQ(bubbleCorners(unzoomed), onlyIn(first));
    EXPECT_EQ(probesShowing(unzoomed, kBackdrop), static_cast<int>(kZoomProbes.size()));
    // At the click: zoomed in on it, some time in the hold that follows.
    const auto zoomsAtTheClick = [&] {
        for (double after : {0.8, 1.2, 1.6, 2.0}) {
            const auto picture = hk::testsupport::decodePicture(combined, clickedAt + after, kHalfWidth, kHeight);
            if (probesShowing(picture, kBlock) == static_cast<int>(kZoomProbes.size())) return true;
        }
        return false;
    };
    EXPECT_TRUE(zoomsAtTheClick()) << "the picture should zoom in on the click";

    // The panel offers the last take: another corner, "Apply Changes".
    ASSERT_TRUE(app.clickInWindow(kScreenButtonOnX, kCaptureRowY));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["screenOptions"] == true; })) << app.describe();
    panel = panelFrame(app);
    ASSERT_TRUE(panel) << "no panel on screen";
    const hk::BubbleCorner second = hk::BubbleCorner::topTrailing;
    const auto [secondX, secondY] = kCornerTargets.at(second);
    ASSERT_TRUE(app.clickOnScreen(panel->x + secondX, panel->y + secondY));
    ASSERT_TRUE(app.waitForState([&](const nlohmann::json& s) { return s["bubble"]["corner"] == cornerName(second); }))
        << app.describe();
    const auto firstWritten = std::filesystem::last_write_time(combined);
    ASSERT_TRUE(app.clickOnScreen(panel->x + kApplyX, panel->y + panel->height - kArrowLength - kApplyFromBottom));
    ASSERT_TRUE(waitWhileProgressing(
        [&] {
            const nlohmann::json s = app.state();
            std::error_code error;
            const auto written = std::filesystem::last_write_time(combined, error);
            return s.is_object() && !error && written > firstWritten && s["composing"] == false;
        },
        [&] { return movieWork(app); }))
        << app.describe();
    EXPECT_EQ(app.state()["screenTake"], take.string()) << "the same take, rebuilt";
    const auto rebuilt = hk::testsupport::decodePicture(combined, before, kHalfWidth, kHeight);
    ASSERT_FALSE(rebuilt.pixels.empty());
    EXPECT_EQ(bubbleCorners(rebuilt), onlyIn(second));
    EXPECT_EQ(probesShowing(rebuilt, kBackdrop), static_cast<int>(kZoomProbes.size()));
    // The rebuild reads the click back from the pointer's record.
    EXPECT_TRUE(zoomsAtTheClick()) << "the rebuilt picture should zoom in on the click too";

    ASSERT_TRUE(app.key("Escape"));
    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}


// The island opened and closed during a take, by resting the pointer on
// its strip and taking it away: Screen.mov shows the island in no frame, on
// a plain desktop (where its window's shape changes) and under a
// compositing manager (where it is drawn see-through and the screen lags a
// frame behind it). The part of the display the island reaches above the
// block must show the backdrop in every frame but where the pointer is.
class IslandInATakeJourney : public ScreenTakeJourney, public testing::WithParamInterface<bool> {};

TEST_P(IslandInATakeJourney, TheIslandShowsInNoFrameOfTheScreen) {
    hk::testsupport::TestCompositor compositor;
    if (GetParam()) {
        if (!hk::testsupport::TestCompositor::program()) GTEST_SKIP() << "xcompmgr is not installed";
        ASSERT_TRUE(compositor.start(desktop_.x().displayName()));
        // Running before the program starts, as on a composited desktop.
        ASSERT_TRUE(compositor.waitUntilDrawing(20s)) << "xcompmgr never took the screen";
    }
    JourneyApp app(desktop_, "island-take", LUMENHOLLOW_DEMO_PATH);
    moveOffTheDisplay(app);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(turnScreenOn(app));
    ASSERT_TRUE(app.key("Escape"));
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["screenOptions"] == false; }))
        << app.describe();
    ASSERT_TRUE(app.clickInWindow(kRecordX, kCaptureRowY));
    uint64_t sample = 0;
    const auto recording = [&](const nlohmann::json& s) {
        sample = s["sample"].get<uint64_t>();
        return s["recording"] == true;
    };
    ASSERT_TRUE(app.waitForState(recording, 60s)) << app.describe();
    const auto reportReaches = [&](uint64_t wanted) {
        return app.waitForState([&](const nlohmann::json& s) { return s["sample"].get<uint64_t>() >= wanted; });
    };

    const std::optional<ScreenRect> strip = reportedArea(app.state()["islandRect"]);
    ASSERT_TRUE(strip && strip->x >= kHalfWidth) << "the island hangs from the recorded display: " << app.describe();
    // The pointer rests on the strip to open the island and goes to the
    // display's foot, under the block, to close it.
    const std::pair<int, int> onStrip{strip->centreX(), strip->centreY()};
    const std::pair<int, int> away{kHalfWidth + 100, kHeight - 60};
    ScreenRect reach = *strip;
    constexpr int kOpenings = 4;
    for (int opening = 0; opening < kOpenings; ++opening) {
        ASSERT_TRUE(app.moveOnScreen(onStrip.first, onStrip.second));
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["island"] == true; })) << app.describe();
        ASSERT_TRUE(reportReaches(sample += 8));
        if (const auto open = reportedArea(app.state()["islandRect"]); open && open->width > reach.width) reach = *open;
        ASSERT_TRUE(app.moveOnScreen(away.first, away.second));
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["island"] == false; })) << app.describe();
        ASSERT_TRUE(reportReaches(sample += 8));
    }
    const std::filesystem::path take = stopTake(app);
    ASSERT_FALSE(take.empty());
    const std::filesystem::path screen = take / "Screen.mov";
    const std::optional<ProbedMovie> movie = probeMovie(screen);
    ASSERT_TRUE(movie);
    ASSERT_EQ(movie->width, kHalfWidth);
    ASSERT_EQ(movie->height, kHeight);

    // What the island reaches on the display, above the block; the pointer's
    // picture on the strip is left out.
    const ScreenRect watched{reach.x - kHalfWidth - 8, 0, reach.width + 16, static_cast<int>(kMiddleBlock.y) - 8};
    ASSERT_GT(watched.width, strip->width) << "the island never opened wider than its strip";
    const auto raw = screen.parent_path() / "watched.rgb";
    const auto decoded = hk::CommandRunner::run(
        "/usr/bin/ffmpeg",
        {"-v", "error", "-i", screen.string(), "-vf",
         "crop=" + std::to_string(watched.width) + ":" + std::to_string(watched.height) + ":" +
             std::to_string(watched.x) + ":" + std::to_string(watched.y),
         "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24", raw.string()},
        {}, /*logged=*/false);
    ASSERT_EQ(decoded.status, 0) << decoded.output;
    std::ifstream in(raw, std::ios::binary);
    const size_t frameBytes = static_cast<size_t>(watched.width) * static_cast<size_t>(watched.height) * 3;
    std::vector<char> frame(frameBytes);
    const int pointerX = onStrip.first - kHalfWidth - watched.x;
    const int pointerY = onStrip.second - watched.y;
    int frames = 0;
    std::vector<std::string> showing;
    while (in.read(frame.data(), static_cast<std::streamsize>(frameBytes))) {
        int off = 0;
        for (int y = 0; y < watched.height; ++y) {
            for (int x = 0; x < watched.width; ++x) {
                if (x >= pointerX - 6 && x < pointerX + 40 && y >= pointerY - 6 && y < pointerY + 40) continue;
                const auto* p = reinterpret_cast<const uint8_t*>(frame.data()) +
                                (static_cast<size_t>(y) * static_cast<size_t>(watched.width) + static_cast<size_t>(x)) * 3;
                if (!colorNear(hk::RgbColor{p[0], p[1], p[2]}, kBackdrop, kColourTolerance)) ++off;
            }
        }
        if (off > 20) showing.push_back("frame " + std::to_string(frames) + ": " + std::to_string(off) + " pixels");
        ++frames;
    }
    std::filesystem::remove(raw);
    // As many frames as a loaded machine recorded: each of them decoded, and
    // some of them while the pointer rested on the strip (the pointer's
    // record shares the movie's time), so the island's openings were seen.
    std::string unread;
    const std::optional<std::vector<double>> frameTimes = videoFrameTimes(screen, &unread);
    ASSERT_TRUE(frameTimes) << unread;
    EXPECT_EQ(static_cast<size_t>(frames), frameTimes->size()) << "every frame the program recorded decodes";
    const auto cursor = hk::CursorTimeline::load(take / "Cursor.json");
    ASSERT_TRUE(cursor) << cursor.error();
    const double stripX = static_cast<double>(onStrip.first - kHalfWidth) / kHalfWidth;
    const double stripY = static_cast<double>(onStrip.second) / kHeight;
    std::vector<std::pair<double, double>> rests;  // the pointer on the strip, from and to
    bool resting = false;
    for (const hk::CursorSample& pointer : cursor->samples) {
        const bool onIt = std::abs(pointer.x - stripX) < 1e-3 && std::abs(pointer.y - stripY) < 1e-3;
        if (onIt && !resting) rests.emplace_back(pointer.time, pointer.time);
        if (onIt) rests.back().second = pointer.time;
        resting = onIt;
    }
    EXPECT_EQ(rests.size(), static_cast<size_t>(kOpenings)) << "the pointer's record of the openings";
    const auto duringARest = std::ranges::count_if(*frameTimes, [&](double time) {
        return std::ranges::any_of(rests, [&](const auto& rest) { return time >= rest.first && time <= rest.second; });
    });
    EXPECT_GT(duringARest, 0) << "no frame of " << frames << " was recorded while the island was open";
    EXPECT_TRUE(showing.empty()) << showing.size() << " of " << frames << " frames show the island, first "
                                 << showing.front();

    ASSERT_TRUE(app.key("ctrl+q"));
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}

INSTANTIATE_TEST_SUITE_P(Desktops, IslandInATakeJourney, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& composited) {
                             return composited.param ? "Xcompmgr" : "Plain";
                         });

}  // namespace
}  // namespace lumenhollow::journey
