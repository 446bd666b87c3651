// Every size the sizer can give the window, on screens from 760 x 428 up,
// landscape and upright, with and without a menu bar in the window, for
// landscape, square and portrait pictures, first fits and user resizes
// alike: the window's controls, at the largest sizes they take, all lie
// inside it and none covers another; the island's closed strip lies over
// none of the window (its title and menus stay reachable); the
// screen-recording options and the scenes, at their fullest, open on the
// screen without covering the button they belong to. Under a window
// manager's frame too, on a fresh desktop and after a trip between screens.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lumenhollow/ui/island/notch_geometry.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/scenes_panel_state.h"
#include "lumenhollow/ui/shell/window_fit.h"
#include "lumenhollow/ui/window/capture_controls.h"
#include "lumenhollow/ui/window/bar_state.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_layout.h"

namespace lumenhollow {
namespace {

// What the application gives the sizer.
FitFloor appFloor() {
    return FitFloor{static_cast<int>(kRailBelowWidth),
                    FitSize{static_cast<int>(kRailFloor.width), static_cast<int>(kRailFloor.height)},
                    FitSize{static_cast<int>(kWideFloor.width), static_cast<int>(kWideFloor.height)},
                    static_cast<int>(kWideShortestHeight)};
}

// The widest each control gets (a long microphone name with the level
// meter, the status pill with the battery and the card, the scenes button
// with its USB marker, the record pill with its screen chip), measured
// from the views; the rail's microphone is the narrow one. The microphone
// control takes no more than the room the row leaves it, down to its
// symbol and chevron alone.
struct Widest {
    const char* name;
    double microphone;
    double railMicrophone;
    double statusPill;
    double scenes;
    double capture;
    double cluster;  // the bottom bar's connection cluster
};
const Widest kWidest[] = {
    {"USB", 330, 225, 160, 103, 345, 215},
    {"Wi-Fi", 240, 240, 160, 141, 375, 260},
};
constexpr double kNarrowestMicrophone = 70;

ChromeInputs widestControls(SizeF window, const Widest& widest, bool toast) {
    ChromeInputs in;
    in.window = window;
    in.classes = widthClasses(window.width);
    in.microphone = {in.classes.rail ? widest.railMicrophone : widest.microphone, 30};
    in.statusPill = {widest.statusPill, 30};
    in.scenesButton = {widest.scenes, 30};
    in.settingsMenu = {30, 30};
    if (toast) in.toast = SizeF{300, 30};
    in.toolRail = {46, ChromeMetrics::kToolRailHeight};
    in.zoom = {116, 30};
    in.capture = {widest.capture, ChromeMetrics::kCaptureHeight};
    in.joystick = {ChromeMetrics::kJoystickDiameter, ChromeMetrics::kJoystickDiameter};
    in.bottomBar = {200, ChromeMetrics::kBottomBarHeight};
    in.bottomBarFillsWidth = true;
    return in;
}

// The island's closed strip on a screen without a notch, its hover margin
// included: a pointer there opens it.
FitRect islandStrip(const FitRect& screen) {
    ui::NotchGeometry geometry;
    geometry.screenFrame = QRect(screen.x, screen.y, screen.width, screen.height);
    geometry.visibleTop = screen.y;
    const QRect strip = ui::islandHoverRect(
        ui::islandRectInPanel(ui::notchPanelFrame(geometry), ui::NotchSizes::collapsedWithoutNotch));
    return FitRect{strip.x(), strip.y(), strip.width(), strip.height()};
}

bool meets(const FitRect& a, const FitRect& b) {
    return a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom();
}

// The popovers opened from their buttons in a window whose content lies at
// `frame` on `screen`: the screen-recording options from the button after
// the record pill (their body on the Wi-Fi route; where the window lies on
// the screen, also at their fullest, every row shown, the card's help among
// them, as tests/ui/shell/x11/popover_room_x11_test.cpp opens them), and
// there the scenes with nine scenes from the scenes pill. Each takes no
// more than the screen holds (the options' rows and the scenes list
// scroll), lies on the screen and leaves its button uncovered; a message
// when one does not.
constexpr QSize kScreenOptionsOverWifi{360, 331 - ui::Popover::kArrowLength};
constexpr QSize kScreenOptionsFullest{360, 673};
constexpr int kScenesWidth = 380;
// The scenes popover's rows besides its list: header, footer, dividers.
constexpr int kScenesOtherRows = 90;
// The narrowest capture controls: the photo, record, screen and tracking
// buttons with the record pill at its shortest.
constexpr double kNarrowestCapture = 260;
std::string checkPopovers(const FitRect& frame, int bar, const Widest& widest, double captureWidth,
                          const FitRect& screen) {
    const SizeF window{static_cast<double>(frame.width), static_cast<double>(frame.height - bar)};
    ChromeInputs in = widestControls(window, widest, false);
    in.capture.width = captureWidth;
    const ChromeGeometry g = chromeLayout(in);
    const QRect room(screen.x, screen.y, screen.width, screen.height);
    const auto check = [&](const char* name, const QRect& anchor, QSize body, ui::PopoverEdge edge) -> std::string {
        const ui::PopoverPlacement placed = ui::placePopover(anchor, body, edge, room, ui::Popover::kArrowLength);
        if (placed.frame.intersects(anchor)) return std::string("the ") + name + " cover their button";
        if (!room.contains(placed.frame)) return std::string("the ") + name + " leave the screen";
        return {};
    };
    const int button = CaptureControls::kButtonSize;
    const QRect options(frame.x + static_cast<int>(g.capture.x + g.capture.width) - 2 * button -
                            CaptureControls::kSpacing,
                        frame.y + bar + static_cast<int>(g.capture.y), button, button);
    std::string fault = check("screen-recording options", options, kScreenOptionsOverWifi, ui::PopoverEdge::above);
    const bool onScreen = frame.x >= screen.x && frame.y >= screen.y && frame.right() <= screen.right() &&
                          frame.bottom() <= screen.bottom();
    if (!fault.empty() || !onScreen) return fault;
    fault = check("fullest screen-recording options", options,
                  QSize(kScreenOptionsFullest.width(),
                        std::min(kScreenOptionsFullest.height(),
                                 ui::popoverBodyRoom(options, kScreenOptionsFullest.width(), room,
                                                     ui::Popover::kArrowLength))),
                  ui::PopoverEdge::above);
    if (!fault.empty() || !g.showsScenesAndFolder) return fault;
    const QRect scenes(frame.x + static_cast<int>(g.scenesButton.x), frame.y + bar + static_cast<int>(g.scenesButton.y),
                       static_cast<int>(g.scenesButton.width), static_cast<int>(g.scenesButton.height));
    const int scenesRoom = ui::popoverBodyRoom(scenes, kScenesWidth, room, ui::Popover::kArrowLength);
    return check("scenes", scenes,
                 QSize(kScenesWidth, kScenesOtherRows + scenesListHeight(9, scenesRoom - kScenesOtherRows)),
                 ui::PopoverEdge::below);
}

bool inside(const RectF& r, SizeF window) {
    return r.x >= 0 && r.y >= 0 && r.x + r.width <= window.width && r.y + r.height <= window.height;
}

bool overlap(const RectF& a, const RectF& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

std::string describe(const FitRect& screen, int bar, double aspect, FitSize picture) {
    return "screen " + std::to_string(screen.width) + "x" + std::to_string(screen.height) + ", bar " +
           std::to_string(bar) + ", aspect " + std::to_string(aspect) + ": window content " +
           std::to_string(picture.width) + "x" + std::to_string(picture.height);
}

// The controls of one size, and the bottom bar's cluster between its menus
// and circles; a failure message, empty when all is well.
std::string checkControls(SizeF window, const Widest& widest, bool toast) {
    ChromeInputs in = widestControls(window, widest, toast);
    in.microphone.width = std::max(kNarrowestMicrophone, std::min(in.microphone.width, chromeLayout(in).microphoneRoom));
    const ChromeGeometry g = chromeLayout(in);
    std::vector<std::pair<const char*, RectF>> controls{
        {"microphone", g.microphone}, {"settings", g.settingsMenu}, {"zoom", g.zoom},
        {"capture", g.capture},       {"joystick", g.joystick},     {"bottom bar", g.bottomBar},
    };
    if (widest.statusPill > 0) controls.emplace_back("status pill", g.statusPill);
    if (g.showsScenesAndFolder) {
        controls.emplace_back("scenes", g.scenesButton);
        controls.emplace_back("folder", g.folderButton);
    }
    if (g.toolRail) controls.emplace_back("tool rail", *g.toolRail);
    for (size_t i = 0; i < controls.size(); ++i) {
        if (!inside(controls[i].second, window)) return std::string(controls[i].first) + " reaches out of the window";
        for (size_t j = i + 1; j < controls.size(); ++j) {
            if (overlap(controls[i].second, controls[j].second)) {
                return std::string(controls[i].first) + " covers " + controls[j].first;
            }
        }
    }
    if (!g.toolRail) {
        // The tool row: guide and look menus at the left, four circles at the right.
        const double barWidth = g.bottomBar.width;
        const double leftEnd = BottomBar::kSideInset + 51 + BottomBar::kSpacing + 83;
        const double rightStart = barWidth - BottomBar::kSideInset - 4 * BottomBar::kToolSize - 3 * BottomBar::kSpacing;
        const double left = connectionClusterLeft(barWidth, widest.cluster, leftEnd, rightStart, BottomBar::kSpacing);
        if (left < leftEnd || left + widest.cluster > rightStart) return "the connection cluster covers a tool";
    }
    return {};
}

TEST(WindowFitSweepTest, EverySizeTheSizerGivesHoldsEveryControl) {
    const std::vector<int> widths{760, 800, 1024, 1280, 1366, 1512, 1920, 2560};
    const std::vector<int> heights{428, 480, 600, 700, 768, 800, 944, 1080, 1440, 1920};
    const double aspects[] = {16.0 / 9.0, 4.0 / 3.0, 1.0, 3.0 / 4.0, 9.0 / 16.0};
    int sizes = 0;
    // Landscape screens and the same screens upright.
    std::vector<std::pair<int, int>> screens;
    for (const int screenWidth : widths) {
        for (const int screenHeight : heights) {
            screens.emplace_back(screenWidth, screenHeight);
            if (screenHeight < screenWidth) screens.emplace_back(screenHeight, screenWidth);
        }
    }
    for (const auto& [screenWidth, screenHeight] : screens) {
        {
            const FitRect screen{0, 0, screenWidth, screenHeight};
            const FitRect strip = islandStrip(screen);
            for (const int bar : {0, 21}) {
                for (const double aspect : aspects) {
                    // The first window, then the user's resizes from the
                    // smallest the window manager allows to past the screen,
                    // by height, by width and by both.
                    std::vector<FitInputs> fits;
                    FitInputs first;
                    first.frame = FitRect{0, 0, 1152, 648 + bar};
                    first.area = screen;
                    first.clearArea = areaClearOf(screen, strip);
                    first.aspect = aspect;
                    first.chromeHeight = bar;
                    first.floor = appFloor();
                    fits.push_back(first);
                    for (int side = 100; side < 2600; side += 61) {
                        FitInputs tall = first;
                        tall.memory.portrait = aspect < 1;
                        tall.frame = FitRect{0, 0, first.frame.width, side + bar};
                        tall.resizedFrom = FitSize{first.frame.width, first.frame.height};
                        fits.push_back(tall);
                        FitInputs wide = tall;
                        wide.frame = FitRect{0, 0, side, first.frame.height};
                        fits.push_back(wide);
                        // A corner pulled one way and pushed the other.
                        FitInputs corner = tall;
                        corner.frame = FitRect{0, 0, 2700 - side, side + bar};
                        fits.push_back(corner);
                    }
                    for (const FitInputs& fit : fits) {
                        const FitDecision decision = computeFit(fit);
                        ASSERT_FALSE(decision.skipped);
                        const FitSize picture{decision.frame.width, decision.frame.height - bar};
                        const SizeF window{static_cast<double>(picture.width), static_cast<double>(picture.height)};
                        ++sizes;
                        ASSERT_FALSE(meets(decision.frame, strip))
                            << describe(screen, bar, aspect, picture) << ": the island's strip lies over the window";
                        for (const Widest& widest : kWidest) {
                            for (const bool toast : {false, true}) {
                                const std::string fault = checkControls(window, widest, toast);
                                ASSERT_EQ(fault, "") << describe(screen, bar, aspect, picture) << ", " << widest.name
                                                     << (toast ? ", with a notice" : "");
                            }
                            for (const double capture : {kNarrowestCapture, widest.capture}) {
                                ASSERT_EQ(checkPopovers(decision.frame, bar, widest, capture, screen), "")
                                    << describe(screen, bar, aspect, picture) << ", " << widest.name << ", capture "
                                    << capture;
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(sizes, 10000);
}

// Under a window manager's frame (openbox's, a thick title bar alone, a
// frame all round), on every screen: a fresh desktop, where the window is
// fitted before the frame is known and again once it is, and a trip from
// there to the smallest screen, a large one and back to the smallest. Each
// fit that knows the frame keeps the whole frame, title bar included, off
// the island's strip and on the screen (where the screen is as wide as the
// wide floor and its frame), and every control in the picture's part.
TEST(WindowFitSweepTest, FramedOnAFreshDesktopAndAfterATripTheWindowKeepsOffTheStrip) {
    struct Frame {
        int left;
        int top;
        int right;
        int bottom;
    };
    const Frame frames[] = {{1, 20, 1, 5}, {0, 30, 0, 0}, {4, 28, 4, 4}};
    const FitRect smallest{0, 0, 760, 428};
    const FitRect large{0, 0, 1512, 944};
    // The area the sizer hands the fit: the screen and its part clear of the
    // strip, each less the frame.
    const auto framedInputs = [](const FitRect& screen, const Frame& f, FitInputs in) {
        const auto less = [&f](const FitRect& r) {
            if (r.width <= 0) return r;
            return FitRect{r.x + f.left, r.y + f.top, r.width - f.left - f.right, r.height - f.top - f.bottom};
        };
        in.area = less(screen);
        in.clearArea = less(areaClearOf(screen, islandStrip(screen)));
        return in;
    };
    const auto check = [](const FitRect& screen, const Frame& f, const FitDecision& d, int bar,
                          const std::string& what) {
        const FitRect framed{d.frame.x - f.left, d.frame.y - f.top, d.frame.width + f.left + f.right,
                             d.frame.height + f.top + f.bottom};
        const std::string where = what + ": the frame at " + std::to_string(framed.x) + "," +
                                  std::to_string(framed.y) + " " + std::to_string(framed.width) + "x" +
                                  std::to_string(framed.height);
        EXPECT_FALSE(meets(framed, islandStrip(screen))) << where << " meets the island's strip";
        EXPECT_GE(framed.y, screen.y) << where;
        if (screen.width >= kWideFloor.width + f.left + f.right) {
            EXPECT_TRUE(framed.x >= screen.x && framed.right() <= screen.right() && framed.bottom() <= screen.bottom())
                << where << " leaves the screen";
        }
        const SizeF picture{static_cast<double>(d.frame.width), static_cast<double>(d.frame.height - bar)};
        EXPECT_EQ(checkControls(picture, kWidest[1], true), "") << where;
    };
    const double aspects[] = {16.0 / 9.0, 4.0 / 3.0, 1.0, 9.0 / 16.0};
    const std::vector<int> widths{760, 1024, 1366, 1512, 1920};
    const std::vector<int> heights{428, 480, 600, 768, 944, 1080};
    int fits = 0;
    for (const int screenWidth : widths) {
        for (const int screenHeight : heights) {
            const FitRect screen{0, 0, screenWidth, screenHeight};
            for (const Frame& f : frames) {
                for (const int bar : {0, 21}) {
                    for (const double aspect : aspects) {
                        const std::string what = describe(screen, bar, aspect, {}) + ", frame top " +
                                                 std::to_string(f.top);
                        FitInputs first;
                        first.frame = FitRect{0, 0, 1152, 648 + bar};
                        first.aspect = aspect;
                        first.chromeHeight = bar;
                        first.floor = appFloor();
                        // Fresh: fitted with no frame known, then with it.
                        FitInputs unframed = first;
                        unframed.area = screen;
                        unframed.clearArea = areaClearOf(screen, islandStrip(screen));
                        const FitDecision early = computeFit(unframed);
                        FitInputs known = framedInputs(screen, f, first);
                        known.frame = early.frame;
                        known.memory = early.memory;
                        const FitDecision fresh = computeFit(known);
                        check(screen, f, fresh, bar, what + ", fresh");
                        // The trip: each screen fitted from where the last left it.
                        FitDecision last = fresh;
                        const std::pair<const char*, FitRect> legs[] = {
                            {"to the smallest", smallest}, {"to a large one", large}, {"back to the smallest", smallest}};
                        for (const auto& [leg, to] : legs) {
                            FitInputs trip = framedInputs(to, f, first);
                            trip.frame = last.frame;
                            trip.memory = last.memory;
                            last = computeFit(trip);
                            check(to, f, last, bar, what + ", " + leg);
                            ++fits;
                        }
                        if (HasFailure()) return;
                    }
                }
            }
        }
    }
    EXPECT_GT(fits, 1000);
}

// The sizes the issue names: the smallest screen's landscape window stays
// 16:9 below its menu bar; a portrait picture there takes the wide floor.
TEST(WindowFitSweepTest, TheSmallestScreenGivesTheSizesThatHoldTheControls) {
    struct Case {
        const char* name;
        double aspect;
        FitRect expected;
    };
    const std::vector<Case> cases{
        {"landscape: 724 x 407 below a 21-row bar", 16.0 / 9.0, {0, 0, 724, 428}},
        {"portrait: too short for the rail, as wide as the wide arrangement needs", 9.0 / 16.0, {60, 0, 640, 428}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FitInputs in;
        in.frame = FitRect{0, 0, 760, 449};
        in.area = FitRect{0, 0, 760, 428};
        in.aspect = c.aspect;
        in.chromeHeight = 21;
        in.floor = appFloor();
        const FitDecision decision = computeFit(in);
        EXPECT_EQ(decision.frame, c.expected);
        EXPECT_EQ(checkControls(SizeF{static_cast<double>(decision.frame.width), decision.frame.height - 21.0},
                                kWidest[1], false),
                  "");
    }
}

}  // namespace
}  // namespace lumenhollow
