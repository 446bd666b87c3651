// The island: it hangs black from the top centre of the screen; resting
// the pointer on it opens it, and the screen then shows the camera's live
// picture in it; a drag on the picture turns the simulated gimbal, which
// holds still once the button is let go; its record button starts a movie
// and stops it, and ffprobe reads the movie. Then the main window is closed
// as the window manager closes it: with "Keep Running in the Notch", the
// default, the program lives on with the island still opening on hover and
// its icon still in the tray, and the tray menu's Quit ends it with status 0.
//
// The tray is a real one a bare X server lacks: the program finds a
// StatusNotifierWatcher on a private session bus (tray_host.h) and the
// journey clicks the menu the program exports there.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "hollowkit/base/command_runner.h"
#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/screen_measures.h"
#include "tests/journeys/tray_host.h"

namespace lumenhollow::journey {
namespace {

constexpr int kIslandScreenWidth = 1920;
constexpr int kIslandScreenHeight = 1080;
// Clear of the rounded corners and the badge.
constexpr int kIslandPictureInset = 24;

// The demonstration scene is colourful and the closed island black: the
// picture is on the screen when the pane is both colourful and mostly lit.
bool islandShowsPicture(const std::optional<ScreenPicture>& shown) {
    return shown && screenColourfulness(*shown, kIslandPictureInset) > 8 &&
           screenDarkShare(*shown, kIslandPictureInset) < 0.5;
}

std::string islandDescribePicture(const std::optional<ScreenPicture>& shown) {
    if (!shown) return "the screen could not be read";
    return "colourfulness " + std::to_string(screenColourfulness(*shown, kIslandPictureInset)) + ", dark share " +
           std::to_string(screenDarkShare(*shown, kIslandPictureInset));
}

double islandPan(const nlohmann::json& report) { return report["pose"]["pan"].get<double>(); }

// Waits for the pan to hold one value over `samples` reports in a row and
// gives that value.
std::optional<double> islandSettledPan(JourneyApp& app, uint64_t samples, std::chrono::milliseconds limit) {
    std::optional<double> pan;
    uint64_t since = 0;
    bool settled = false;
    app.waitForState(
        [&](const nlohmann::json& s) {
            if (!s["pose"].is_object()) return false;
            const double now = islandPan(s);
            const uint64_t sample = s["sample"].get<uint64_t>();
            if (!pan || std::abs(now - *pan) > 1e-6) {
                pan = now;
                since = sample;
            }
            settled = sample >= since + samples;
            return settled;
        },
        limit);
    return settled ? pan : std::nullopt;
}

std::vector<std::filesystem::path> islandMoviesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> movies;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() && (extension == ".mov" || extension == ".mp4")) movies.push_back(entry.path());
    }
    return movies;
}

// The video frames ffprobe counts in the movie; nothing when it cannot read it.
std::optional<int> islandMovieFrames(const std::filesystem::path& movie) {
    const hollowkit::CommandResult probed = hollowkit::CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "error", "-of", "json", "-count_packets", "-show_streams", "-show_format", movie.string()}, {},
        /*logged=*/false, std::chrono::seconds(120));
    if (probed.status != 0) return std::nullopt;
    const nlohmann::json read = nlohmann::json::parse(probed.output, nullptr, false);
    if (!read.is_object() || !read.contains("streams") || !read.contains("format")) return std::nullopt;
    for (const auto& stream : read["streams"]) {
        if (stream.value("codec_type", "") == "video") return std::atoi(stream.value("nb_read_packets", "0").c_str());
    }
    return std::nullopt;
}

// One saved scene, "Window Seat" at pan 25, tilt 0: the settings' bytes of
// [{"id":"6F9619FF-8B86-4D01-B42D-00CF4FC964FF","name":"Window Seat",
//   "position":{"pan":25,"tilt":0}}].
constexpr const char* kIslandSceneSettings =
    R"({"welcomed": true, "scenes": {"$data": )"
    R"("W3siaWQiOiI2Rjk2MTlGRi04Qjg2LTREMDEtQjQyRC0wMENGNEZDOTY0RkYiLCJuYW1lIjoiV2luZG93IFNlYXQiLCJwb3NpdGlvbiI6eyJwYW4iOjI1LCJ0aWx0IjowfX1d"}})";
constexpr double kIslandScenePan = 25;

// The program's help text on the screen: a visible window of its own that
// the window manager is told is a tooltip; where it sits, or nothing.
std::optional<ScreenRect> islandToolTip(JourneyDesktop& desktop, pid_t pid) {
    for (const ScreenWindow& window : visibleWindows(desktop, pid)) {
        const hollowkit::CommandResult type = hollowkit::CommandRunner::run(
            "/usr/bin/xprop", {"-display", desktop.x().displayName(), "-id", window.id, "_NET_WM_WINDOW_TYPE"}, {},
            /*logged=*/false, std::chrono::seconds(10));
        if (type.status == 0 && type.output.find("_NET_WM_WINDOW_TYPE_TOOLTIP") != std::string::npos) {
            return window.rect;
        }
    }
    return std::nullopt;
}

class IslandJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        if (auto missing = TrayHost::missingTool()) GTEST_SKIP() << *missing;
        desktop_.start(kIslandScreenWidth, kIslandScreenHeight);
        const std::optional<std::string> trayFailed = tray_.start();
        ASSERT_FALSE(trayFailed) << *trayFailed;
        // Welcomed already: no sheet over the window.
        std::filesystem::create_directories(desktop_.configHome() / "lumenhollow");
        std::ofstream(desktop_.configHome() / "lumenhollow" / "settings.json") << R"({"welcomed": true})";
    }

    // Rests the pointer on the closed island and waits for it to open with
    // its picture and record button on the screen.
    bool openIsland(JourneyApp& app, const ScreenRect& closed) {
        return app.moveOnScreen(closed.centreX(), closed.centreY()) &&
               app.waitForState([](const nlohmann::json& s) {
                   return s["island"] == true && s["islandPicture"].is_object() && s["islandRecord"].is_object();
               });
    }

    // The main window's X id while it is on the screen; nothing once it is gone.
    std::optional<std::string> mappedMainWindow(JourneyApp& app, const std::string& id) {
        const hollowkit::CommandResult found =
            desktop_.x().xdotool({"search", "--onlyvisible", "--pid", std::to_string(app.pid()), "--name", "."});
        std::istringstream lines(found.output);
        for (std::string line; std::getline(lines, line);) {
            if (line == id) return line;
        }
        return std::nullopt;
    }

    JourneyDesktop desktop_;
    TrayHost tray_;
};

TEST_F(IslandJourney, HoverDragAndRecordThenKeepRunningInTheNotchUntilQuitFromTheTray) {
    JourneyApp app(desktop_, "island", LUMENHOLLOW_DEMO_PATH, {tray_.environment()});
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["picture"] == true && s["island"] == false && s["islandRect"].is_object() &&
                   s["pose"].is_object();
        },
        90s))
        << app.describe();
    const ScreenRect closed = *reportedArea(app.state()["islandRect"]);

    {
        SCOPED_TRACE("the closed island hangs black from the top centre of the screen");
        EXPECT_NEAR(closed.centreX(), kIslandScreenWidth / 2, 1);
        EXPECT_LE(closed.y, 10);
        std::optional<ScreenPicture> shown;
        EXPECT_TRUE(waitFor([&] {
            shown = readScreen(desktop_.x().displayName(), closed);
            return shown && screenDarkShare(*shown, 4) > 0.6;
        })) << "dark share "
            << (shown ? screenDarkShare(*shown, 4) : -1);
    }

    ASSERT_TRUE(openIsland(app, closed)) << app.describe();
    const ScreenRect picture = *reportedArea(app.state()["islandPicture"]);
    std::optional<ScreenPicture> before;
    {
        SCOPED_TRACE("the open island shows the live picture on the screen");
        EXPECT_NEAR(picture.centreX(), kIslandScreenWidth / 2, 2) << "the picture is off the island's centre";
        ASSERT_TRUE(waitFor([&] {
            before = readScreen(desktop_.x().displayName(), picture);
            return islandShowsPicture(before);
        }))
            << islandDescribePicture(before);
    }

    {
        SCOPED_TRACE("a drag on the picture turns the gimbal, and it holds still once let go");
        const double start = islandPan(app.state());
        const int reach = picture.width / 8;
        ASSERT_TRUE(app.dragOnScreen(picture.centreX() - reach, picture.centreY(), picture.centreX() + reach,
                                     picture.centreY()));
        // Thirty reports, three seconds of the program's own time, with no change.
        const std::optional<double> settled = islandSettledPan(app, 30, 60s);
        ASSERT_TRUE(settled) << "the gimbal never held still; " << app.describe();
        // Dragging the scene to the right by a share of the picture's width
        // turns the camera to the left by that share of the 70 degrees the
        // picture spans at the zoom it has.
        const double zoom = app.state()["pose"]["zoom"].get<double>() / 100.0;
        const double aimed = start - 2.0 * reach * (70.0 / zoom) / picture.width;
        EXPECT_NEAR(*settled, aimed, 0.5) << "the drag from pan " << start << " did not aim the gimbal";
        EXPECT_EQ(app.state()["island"], true) << "the drag closed the island";
        std::optional<ScreenPicture> after;
        EXPECT_TRUE(waitFor([&] {
            after = readScreen(desktop_.x().displayName(), picture);
            return islandShowsPicture(after) && screenDifference(*after, *before, kIslandPictureInset) > 20;
        })) << "the picture on the screen did not follow the turn";
    }

    {
        SCOPED_TRACE("the island's record button starts a movie and stops it, and ffprobe reads it");
        const ScreenRect record = *reportedArea(app.state()["islandRecord"]);
        ASSERT_TRUE(app.clickOnScreen(record.centreX(), record.centreY()));
        uint64_t started = 0;
        ASSERT_TRUE(app.waitForState([&](const nlohmann::json& s) {
            if (s["recording"] != true) return false;
            if (started == 0) started = s["sample"].get<uint64_t>();
            return s["sample"].get<uint64_t>() >= started + 10;
        })) << app.describe();
        ASSERT_TRUE(app.clickOnScreen(record.centreX(), record.centreY()));
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["recording"] == false; }))
            << app.describe();
        std::optional<int> frames;
        EXPECT_TRUE(waitFor(
            [&] {
                const std::vector<std::filesystem::path> movies = islandMoviesIn(desktop_.outputFolder());
                return movies.size() == 1 && (frames = islandMovieFrames(movies.front())) && *frames >= 5;
            },
            120s))
            << islandMoviesIn(desktop_.outputFolder()).size() << " movies, " << frames.value_or(-1) << " frames";
    }

    std::string item;
    {
        SCOPED_TRACE("the program put its icon in the tray");
        ASSERT_TRUE(waitFor([&] { return !tray_.items().empty(); })) << app.describe();
        ASSERT_EQ(tray_.items().size(), 1U);
        item = tray_.items().front();
        EXPECT_GT(tray_.itemIconSize(item), 0) << "the tray item offers no icon";
    }

    {
        SCOPED_TRACE("closing the main window keeps the program running in the notch");
        EXPECT_EQ(app.state().value("closeBehavior", ""), "keepInNotch");
        const std::optional<std::string> main = app.window();
        ASSERT_TRUE(main);
        ASSERT_TRUE(app.closeWindow());
        ASSERT_TRUE(waitFor([&] { return !mappedMainWindow(app, *main); }))
            << "the main window stayed on the screen; " << app.describe();
        // Twenty more reports: the program goes on after the close.
        const uint64_t closedAt = app.state()["sample"].get<uint64_t>();
        EXPECT_TRUE(app.waitForState(
            [&](const nlohmann::json& s) { return s["sample"].get<uint64_t>() >= closedAt + 20; }, 60s))
            << "the program stopped reporting; running " << app.running() << "; " << app.describe();
        ASSERT_TRUE(app.running()) << app.describe();
    }

    {
        SCOPED_TRACE("the island still closes when left and opens on hover, with the picture");
        ASSERT_TRUE(app.moveOnScreen(kIslandScreenWidth / 2, kIslandScreenHeight - 100));
        ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["island"] == false; })) << app.describe();
        ASSERT_TRUE(openIsland(app, closed)) << app.describe();
        const ScreenRect again = *reportedArea(app.state()["islandPicture"]);
        std::optional<ScreenPicture> shown;
        EXPECT_TRUE(waitFor([&] { return islandShowsPicture(shown = readScreen(desktop_.x().displayName(), again)); }))
            << islandDescribePicture(shown);
    }

    {
        SCOPED_TRACE("the icon stays in the tray, and its menu's Quit ends the program");
        EXPECT_TRUE(tray_.itemPresent(item));
        EXPECT_GT(tray_.itemIconSize(item), 0);
        const std::optional<std::string> failed = tray_.clickRow(item, "Quit Lumenhollow");
        ASSERT_FALSE(failed) << *failed;
        EXPECT_EQ(app.waitForExit(60s), std::optional<int>(0)) << app.describe();
    }
}

// Resting the pointer on the open island's scene chip brings up its help
// text, and it stays up while the island changes what it shows: face
// tracking turned on and off from the main window's keyboard shortcut
// lights the island's tracking button and puts the face box on its picture.
// Then a click on the chip recalls the scene.
TEST_F(IslandJourney, AChipKeepsItsHelpWhileTrackingTurnsOnAndOffAndTakesAClick) {
    std::ofstream(desktop_.configHome() / "lumenhollow" / "settings.json") << kIslandSceneSettings;
    JourneyApp app(desktop_, "chip", LUMENHOLLOW_DEMO_PATH);
    ASSERT_TRUE(app.waitForState(
        [](const nlohmann::json& s) {
            return s["picture"] == true && s["islandRect"].is_object() && s["pose"].is_object() &&
                   s["faceTracking"] == false;
        },
        90s))
        << app.describe();
    // Focused now, so the shortcuts below reach it without the focus moving
    // while the help text is up (a change of focus takes any tooltip away).
    ASSERT_TRUE(app.window()) << app.describe();
    const ScreenRect closed = *reportedArea(app.state()["islandRect"]);
    ASSERT_TRUE(openIsland(app, closed)) << app.describe();
    ASSERT_TRUE(app.waitForState([](const nlohmann::json& s) { return s["islandSceneChip"].is_object(); }))
        << "no scene chip on the open island; " << app.describe();
    const ScreenRect chip = *reportedArea(app.state()["islandSceneChip"]);
    ASSERT_GT(std::abs(islandPan(app.state()) - kIslandScenePan), 5) << "the camera starts at the scene";

    // Qt takes a tooltip away by itself ten seconds after showing it, so
    // each change is made under a help text raised afresh, and a round the
    // machine was too slow to finish well inside that time is run again.
    constexpr auto kTipShownFor = std::chrono::seconds(8);
    const auto raiseTip = [&]() -> std::optional<ScreenRect> {
        std::optional<ScreenRect> tip;
        // The picture has no help text of its own, and keeps the island open.
        const ScreenRect picture = *reportedArea(app.state()["islandPicture"]);
        if (!app.moveOnScreen(picture.centreX(), picture.centreY()) ||
            !waitFor([&] { return !islandToolTip(desktop_, app.pid()); }, 20s) ||
            !app.moveOnScreen(chip.centreX(), chip.centreY()) ||
            !waitFor([&] { return (tip = islandToolTip(desktop_, app.pid())).has_value(); }, 20s)) {
            return std::nullopt;
        }
        return tip;
    };
    for (const bool tracking : {true, false}) {
        SCOPED_TRACE(tracking ? "the help text stays up while tracking turns on"
                              : "the help text stays up while tracking turns off");
        bool judged = false;
        for (int round = 0; round < 3 && !judged; ++round) {
            if (round > 0) {
                // The slow round's change is undone first.
                ASSERT_TRUE(app.key("ctrl+t"));
                ASSERT_TRUE(app.waitForState([&](const nlohmann::json& s) { return s["faceTracking"] != tracking; }))
                    << app.describe();
            }
            const std::optional<ScreenRect> tip = raiseTip();
            const auto raised = std::chrono::steady_clock::now();
            ASSERT_TRUE(tip) << "no help text came up on the chip; " << app.describe();
            EXPECT_LT(std::abs(tip->y - chip.centreY()), 80) << "the help text is far from the chip";
            EXPECT_LT(std::abs(tip->x - chip.centreX()), 200) << "the help text is far from the chip";
            ASSERT_TRUE(app.key("ctrl+t"));
            // Five reports (half a second) after the change: time for the
            // island to show it, and for a tooltip it took away to be gone.
            uint64_t changedAt = 0;
            ASSERT_TRUE(app.waitForState(
                [&](const nlohmann::json& s) {
                    if (s["faceTracking"] != tracking) return false;
                    if (changedAt == 0) changedAt = s["sample"].get<uint64_t>();
                    return s["sample"].get<uint64_t>() >= changedAt + 5;
                },
                30s))
                << "tracking did not turn " << (tracking ? "on" : "off") << "; " << app.describe();
            const std::optional<ScreenRect> still = islandToolTip(desktop_, app.pid());
            if (std::chrono::steady_clock::now() - raised > kTipShownFor) continue;
            judged = true;
            ASSERT_TRUE(still) << "the help text went away when the island changed";
            EXPECT_EQ(still->x, tip->x) << "the help text moved";
            EXPECT_EQ(still->y, tip->y) << "the help text moved";
        }
        ASSERT_TRUE(judged) << "each round took longer than a tooltip stays up";
    }
    {
        SCOPED_TRACE("a click on the chip recalls its scene");
        ASSERT_TRUE(app.clickOnScreen(chip.centreX(), chip.centreY()));
        EXPECT_TRUE(app.waitForState(
            [&](const nlohmann::json& s) { return std::abs(islandPan(s) - kIslandScenePan) < 1; }, 30s))
            << "the gimbal did not turn to the scene; " << app.describe();
    }
    app.signal(SIGTERM);
    EXPECT_EQ(app.waitForExit(30s), std::optional<int>(0)) << app.describe();
}

}  // namespace
}  // namespace lumenhollow::journey
