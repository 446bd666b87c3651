// The main window fitted under a real window manager (openbox, as Debian
// ships it), with the frozen demonstration on a 1512 x 944 screen:
// - twenty drags in a row of the frame's bottom-right corner, each pressed
//   on the corner, moved and let go after a hand's pause longer than the
//   sizer's quiet spell (the order in which a fit made while the button was
//   held was undone by the window manager's own configure at the release):
//   each that changed the height ends with the height as dragged, whichever
//   way and however far the width went, and one moved only sideways with
//   the width as dragged; the other side to the picture's shape and the
//   picture filling the window to its right edge (no black band);
// - fresh desktops, the window manager and the program started together, and
//   the program's window shown before the window manager has started (which
//   then frames a window already placed): the whole frame, title bar
//   included, lies under the island's strip;
// - the screen made smaller under the window (a change of resolution, to
//   the smallest screen the window is made for): the whole window, frame
//   and bottom bar included, on the screen, the bar's connection menu
//   opening to a press.
// The window's place is read from the X server: under a reparenting window
// manager xdotool counts the frame's offset twice.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"
#include "tests/journeys/journey_windows.h"

namespace lumenhollow::journey {
namespace {

constexpr const char* kFitWindowManager = "/usr/bin/openbox";
constexpr int kFitScreenWidth = 1512;
constexpr int kFitScreenHeight = 944;
// The island's closed strip ends 6 + 30 below the screen's top; a pointer
// within 6 more opens it.
constexpr int kFitStripBottom = 6 + 30 + 6;
constexpr int kFitDrags = 20;
// Fresh desktops, each with the window manager and the program started
// together.
constexpr int kFitFreshLaunches = 7;
// The rightmost columns of the window looked at for a band, and the share
// of black that makes one of them a band's.
constexpr int kFitBandColumns = 8;
constexpr double kFitBandBlackShare = 0.9;

struct FitDrag {
    int dx;
    int dy;
};
// Corner drags that change the height keep it, also those that change the
// width far more (out by 300, down by 20; in by 200, down by 40); those
// moved only sideways keep the width. Together they come back to where
// they started.
constexpr FitDrag kFitDragCycle[] = {{-100, -100}, {100, 100}, {300, 20}, {-200, 40}, {200, -60}, {-40, -90},
                                     {40, 90},     {-160, 0},  {160, 0},  {0, -60},   {0, 60}};
// The smallest screen the window is made for, and where the bottom bar's
// connection menu opens: left of the bar's middle, the bar's middle above
// the window's bottom edge.
constexpr int kFitSmallestWidth = 760;
constexpr int kFitSmallestHeight = 428;
constexpr int kFitConnectionFromMiddle = 60;
constexpr int kFitBottomBarMiddle = 12 + 25;

bool fitPixelBlack(uint32_t pixel) {
    return (pixel >> 16 & 0xFF) <= 2 && (pixel >> 8 & 0xFF) <= 2 && (pixel & 0xFF) <= 2;
}

// The screen read twice a moment apart, alike pixel for pixel.
std::optional<ScreenPicture> fitStillScreen(JourneyDesktop& desktop, const ScreenRect& rect) {
    std::optional<ScreenPicture> last;
    std::optional<ScreenPicture> still;
    waitFor(
        [&] {
            std::optional<ScreenPicture> now = readScreen(desktop.x().displayName(), rect);
            if (now && last && now->pixels == last->pixels) {
                still = std::move(now);
                return true;
            }
            last = std::move(now);
            std::this_thread::sleep_for(150ms);
            return false;
        },
        15s);
    return still;
}

// The columns at the right edge of `window`'s area below its `bar` rows
// that are black nearly all the way down: the content laid out narrower
// than the window.
int fitBandColumns(const ScreenPicture& window, int bar) {
    int band = 0;
    for (int x = window.width - kFitBandColumns; x < window.width; ++x) {
        int black = 0;
        for (int y = bar; y < window.height; ++y) black += fitPixelBlack(window.at(x, y)) ? 1 : 0;
        if (black >= kFitBandBlackShare * (window.height - bar)) ++band;
    }
    return band;
}

class WindowFitJourney : public testing::Test {
protected:
    void SetUp() override {
        if (auto missing = JourneyDesktop::missingTool()) GTEST_SKIP() << *missing;
        if (!std::filesystem::exists(kFitWindowManager)) GTEST_SKIP() << "no " << kFitWindowManager;
    }

    // A desktop of its own with the frozen demonstration, for a returning
    // user; `windowManagerFirst`: openbox starts with it, else only once the
    // program's window is on the screen.
    void launch(bool windowManagerFirst) {
        app_.reset();
        windowManager_.reset();
        desktop_ = std::make_unique<JourneyDesktop>();
        desktop_->start(kFitScreenWidth, kFitScreenHeight);
        storeWelcomed(*desktop_);
        if (windowManagerFirst) windowManager_.emplace(*desktop_, "openbox", kFitWindowManager);
        app_.emplace(*desktop_, "fit", LUMENHOLLOW_DEMO_PATH, std::vector<std::string>{"LUMENHOLLOW_DEMO_FROZEN=1"});
        window_.clear();
        if (!windowManagerFirst) {
            ASSERT_TRUE(app_->window()) << app_->describe();
            windowManager_.emplace(*desktop_, "openbox", kFitWindowManager);
        }
    }

    // The main window: of the program's framed windows named after it (the
    // search meets the island's panel too), the largest.
    std::optional<ScreenRect> mainWindow() {
        std::optional<ScreenRect> best;
        waitFor([&] {
            const hollowkit::CommandResult found = desktop_->x().xdotool(
                {"search", "--onlyvisible", "--pid", std::to_string(app_->pid()), "--name", "^Lumenhollow$"});
            std::istringstream ids(found.output);
            for (std::string id; std::getline(ids, id);) {
                const std::optional<ScreenRect> rect = clientArea(*desktop_, id);
                // Framed by the window manager: not the island's panel.
                if (rect && frameExtents(*desktop_, id) && (!best || rect->width * rect->height > best->width * best->height)) {
                    best = rect;
                    window_ = id;
                }
            }
            return best.has_value();
        });
        return best;
    }

    // The window once framed and placed: its frame's extents are set and its
    // place holds still for two reads a moment apart.
    using Framed = FramedWindow;
    std::optional<Framed> framedWindow(const std::function<bool(const Framed&)>& done) {
        return settledFrame(*desktop_, window_, done, 15s);
    }

    // Presses on the frame's bottom-right corner, moves by (dx, dy) in a few
    // steps, holds still past the sizer's quiet spell and lets go.
    bool dragCorner(const Framed& framed, const FitDrag& drag) {
        const int x = framed.client.x + framed.client.width + framed.extents.right - 2;
        const int y = framed.client.y + framed.client.height + framed.extents.bottom - 2;
        std::vector<std::string> words{"mousemove", "--sync", std::to_string(x), std::to_string(y), "mousedown", "1"};
        constexpr int kSteps = 5;
        for (int i = 1; i <= kSteps; ++i) {
            for (const std::string& word :
                 {std::string("sleep"), std::string("0.05"), std::string("mousemove"),
                  std::to_string(x + drag.dx * i / kSteps), std::to_string(y + drag.dy * i / kSteps)}) {
                words.push_back(word);
            }
        }
        for (const char* word : {"sleep", "0.6", "mouseup", "1"}) words.emplace_back(word);
        return desktop_->x().xdotool(words).status == 0;
    }

    std::unique_ptr<JourneyDesktop> desktop_;
    std::optional<JourneyApp> windowManager_;  // ends after the program
    std::optional<JourneyApp> app_;
    std::string window_;
};

TEST_F(WindowFitJourney, TwentyCornerDragsInARowEachEndFittedWithoutABand) {
    launch(true);
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 90s))
        << app_->describe();
    ASSERT_TRUE(mainWindow());
    std::optional<Framed> framed = framedWindow([](const Framed&) { return true; });
    ASSERT_TRUE(framed);
    // The rows above the picture: the menu bar over a 16:9 picture.
    const int bar = framed->client.height - (framed->client.width * 9 + 8) / 16;
    ASSERT_GT(bar, 0);
    ASSERT_LT(bar, 40);
    int fitted = 0;
    int banded = 0;
    for (int i = 0; i < kFitDrags; ++i) {
        const FitDrag& drag = kFitDragCycle[i % std::size(kFitDragCycle)];
        SCOPED_TRACE("drag " + std::to_string(i + 1) + " by " + std::to_string(drag.dx) + "," +
                     std::to_string(drag.dy));
        const bool sideways = drag.dy == 0;
        const int width = sideways ? framed->client.width + drag.dx
                                   : static_cast<int>(std::lround((framed->client.height + drag.dy - bar) * 16.0 / 9.0));
        const int height = sideways ? bar + static_cast<int>(std::lround(width * 9.0 / 16.0))
                                    : framed->client.height + drag.dy;
        ASSERT_TRUE(dragCorner(*framed, drag));
        const std::optional<Framed> after = framedWindow([&](const Framed& now) {
            return std::abs(now.client.height - height) <= 1 && std::abs(now.client.width - width) <= 1;
        });
        ASSERT_TRUE(after);
        const bool shaped =
            std::abs(after->client.height - height) <= 1 && std::abs(after->client.width - width) <= 1;
        EXPECT_TRUE(shaped) << "the window ended " << after->client.width << "x" << after->client.height
                            << ", not about " << width << "x" << height;
        const std::optional<ScreenPicture> picture = fitStillScreen(*desktop_, after->client);
        ASSERT_TRUE(picture) << "the screen never held still";
        const int band = fitBandColumns(*picture, bar);
        EXPECT_EQ(band, 0) << "a black band " << band << " columns wide at the window's right edge";
        fitted += shaped && band == 0 ? 1 : 0;
        banded += band > 0 ? 1 : 0;
        framed = after;
    }
    std::fprintf(stderr, "corner drags ending fitted: %d of %d; with a black band: %d\n", fitted, kFitDrags, banded);
}

// The frame's top edge (the title bar's) at or below the strip's bottom.
TEST_F(WindowFitJourney, OnAFreshDesktopTheWindowsTitleBarLiesUnderTheIslandsStrip) {
    const auto underStrip = [](const Framed& framed) { return framed.client.y - framed.extents.top >= kFitStripBottom; };
    int under = 0;
    for (int launchIndex = 0; launchIndex < kFitFreshLaunches; ++launchIndex) {
        SCOPED_TRACE("fresh desktop " + std::to_string(launchIndex + 1));
        launch(true);
        ASSERT_TRUE(mainWindow()) << app_->describe();
        const std::optional<Framed> framed = framedWindow(underStrip);
        ASSERT_TRUE(framed);
        EXPECT_TRUE(underStrip(*framed)) << "the window's area at y " << framed->client.y << " under a title bar "
                                         << framed->extents.top << " high";
        under += underStrip(*framed) ? 1 : 0;
    }
    std::fprintf(stderr, "fresh desktops with the title bar under the strip: %d of %d\n", under, kFitFreshLaunches);
}

// The window shown and fitted before any window manager runs; openbox then
// frames it where it stands, and the window is fitted again under the frame.
TEST_F(WindowFitJourney, AWindowFramedAfterItWasFittedMovesUnderTheIslandsStrip) {
    launch(false);
    ASSERT_TRUE(mainWindow()) << app_->describe();
    const auto underStrip = [](const Framed& framed) { return framed.client.y - framed.extents.top >= kFitStripBottom; };
    const std::optional<Framed> framed = framedWindow(underStrip);
    ASSERT_TRUE(framed) << "never framed";
    EXPECT_TRUE(underStrip(*framed)) << "the window's area at y " << framed->client.y << " under a title bar "
                                     << framed->extents.top << " high";
    EXPECT_LE(framed->client.y + framed->client.height + framed->extents.bottom, kFitScreenHeight);
}

// The screen made smaller under the window, as a change of resolution
// makes it: the window is fitted into it, the whole frame on the screen, and
// a press on the bottom bar's connection pill opens its menu.
TEST_F(WindowFitJourney, AScreenMadeSmallerUnderTheWindowHoldsItWhole) {
    launch(true);
    ASSERT_TRUE(app_->waitForState([](const nlohmann::json& s) { return s["picture"] == true; }, 90s))
        << app_->describe();
    ASSERT_TRUE(mainWindow());
    const auto onScreen = [](int width, int height) {
        return [width, height](const Framed& w) {
            return w.top() >= 0 && w.client.x - w.extents.left >= 0 && w.right() <= width && w.bottom() <= height;
        };
    };
    ASSERT_TRUE(framedWindow(onScreen(kFitScreenWidth, kFitScreenHeight)));
    auto resized = desktop_->x().resizeScreen(kFitSmallestWidth, kFitSmallestHeight);
    ASSERT_TRUE(resized.has_value()) << resized.error();
    const auto smallest = onScreen(kFitSmallestWidth, kFitSmallestHeight);
    const std::optional<Framed> w = framedWindow(smallest);
    ASSERT_TRUE(w);
    EXPECT_TRUE(smallest(*w)) << "the frame from " << w->client.x - w->extents.left << "," << w->top() << " to "
                              << w->right() << "," << w->bottom() << " on a screen " << kFitSmallestWidth << "x"
                              << kFitSmallestHeight;
    EXPECT_TRUE(chooseFromMenu(
        *desktop_, *app_,
        {w->client.x + w->client.width / 2 - kFitConnectionFromMiddle, w->client.y + w->client.height - kFitBottomBarMiddle},
        std::nullopt, {"Escape"}))
        << "the bottom bar's connection menu never opened";
}

}  // namespace
}  // namespace lumenhollow::journey
