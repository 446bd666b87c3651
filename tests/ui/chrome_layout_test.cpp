#include "lumenhollow/ui/window/chrome_layout.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace lumenhollow {
namespace {

// Controls of the sizes the window shows them at.
ChromeInputs controls(SizeF window, bool withToast = false) {
    ChromeInputs in;
    in.window = window;
    in.classes = widthClasses(window.width);
    in.microphone = {30, 30};
    in.statusPill = {120, 30};
    in.scenesButton = {90, 30};
    in.settingsMenu = {30, 30};
    if (withToast) in.toast = SizeF{140, 30};
    in.toolRail = {46, 326};
    in.zoom = {110, 30};
    in.capture = {300, 40};
    in.joystick = {96, 96};
    in.bottomBar = {200, 50};
    in.bottomBarFillsWidth = true;
    return in;
}

double right(const RectF& r) { return r.x + r.width; }
double bottom(const RectF& r) { return r.y + r.height; }
double centreX(const RectF& r) { return r.x + r.width / 2; }
double centreY(const RectF& r) { return r.y + r.height / 2; }

TEST(ChromeLayoutTest, PlacesTheControlsOfEachWidthClass) {
    struct Case {
        std::string name;
        ChromeInputs in;
        std::function<void(const ChromeGeometry&)> check;
    };
    const std::vector<Case> cases{
        {"a 1152 x 648 window: the top row at y 8-38, folder and gear at the right edge", controls({1152, 648}),
         [](const ChromeGeometry& g) {
             EXPECT_EQ(g.topGradient, (RectF{0, 0, 1152, 90}));
             EXPECT_EQ(g.dragArea, (RectF{0, 0, 1152, 40}));
             EXPECT_EQ(g.buttonSlot.x, 12);
             EXPECT_EQ(right(g.buttonSlot), 76);
             EXPECT_EQ(g.microphone.x, 84) << "one spacing after the empty slot";
             EXPECT_EQ(g.settingsMenu, (RectF{1110, 8, 30, 30}));
             EXPECT_EQ(g.folderButton, (RectF{1072, 8, 30, 30}));
             EXPECT_EQ(right(g.scenesButton), 1064);
             EXPECT_EQ(right(g.statusPill), g.scenesButton.x - 8);
             EXPECT_TRUE(g.showsScenesAndFolder);
             EXPECT_FALSE(g.toolRail);
         }},
        {"the same window's bottom area: one line with the capture controls in the middle",
         controls({1152, 648}), [](const ChromeGeometry& g) {
             EXPECT_EQ(g.bottomGradient, (RectF{0, 438, 1152, 210}));
             EXPECT_EQ(g.bottomBar, (RectF{12, 586, 1128, 50}));
             EXPECT_EQ(g.joystick, (RectF{1044, 478, 96, 96}));
             EXPECT_EQ(g.zoom, (RectF{12, 539, 110, 30}));
             EXPECT_EQ(centreX(g.capture), 576);
             EXPECT_EQ(bottom(g.capture), 569);
         }},
        {"rail (457 x 812): no scenes or folder; the rail at the right edge between top bar and bottom area",
         controls({457, 812}), [](const ChromeGeometry& g) {
             EXPECT_FALSE(g.showsScenesAndFolder);
             EXPECT_EQ(right(g.settingsMenu), 445);
             EXPECT_EQ(right(g.statusPill), g.settingsMenu.x - 8) << "the pill moves next to the gear";
             EXPECT_EQ(g.bottomGradient, (RectF{0, 552, 457, 260}));
             ASSERT_TRUE(g.toolRail);
             EXPECT_EQ(right(*g.toolRail), 445);
             EXPECT_DOUBLE_EQ(centreY(*g.toolRail), (90 + g.bottomArea.y) / 2);
         }},
        {"rail: the capture controls get their own row between the pair and the bar", controls({457, 812}),
         [](const ChromeGeometry& g) {
             EXPECT_EQ(bottom(g.bottomBar), 800);
             EXPECT_EQ(bottom(g.capture), g.bottomBar.y - 12);
             EXPECT_DOUBLE_EQ(centreX(g.capture), 228.5);
             EXPECT_EQ(bottom(g.joystick), g.capture.y - 12);
             EXPECT_EQ(bottom(g.zoom), g.capture.y - 12 - 5);
             EXPECT_EQ(right(g.joystick), 445);
             EXPECT_EQ(g.zoom.x, 12);
         }},
        {"a toast sits 6 under the top bar, centred, and pushes the rail down with it",
         controls({457, 812}, true), [](const ChromeGeometry& g) {
             ASSERT_TRUE(g.toast);
             EXPECT_EQ(*g.toast, (RectF{158.5, 96, 140, 30}));
             ASSERT_TRUE(g.toolRail);
             EXPECT_DOUBLE_EQ(centreY(*g.toolRail), (126 + g.bottomArea.y) / 2);
         }},
        {"a toast in a wide window: y 96 to 126, centred", controls({1152, 648}, true),
         [](const ChromeGeometry& g) {
             ASSERT_TRUE(g.toast);
             EXPECT_EQ(g.toast->y, 96);
             EXPECT_EQ(centreX(*g.toast), 576);
         }},
        {"no notice: no toast", controls({1152, 648}), [](const ChromeGeometry& g) { EXPECT_FALSE(g.toast); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(chromeLayout(c.in));
    }
}

TEST(ChromeLayoutTest, CrowdedRowsAndNarrowBarsKeepTheirRules) {
    struct Case {
        std::string name;
        std::function<void(ChromeInputs&)> change;
        std::function<void(const ChromeGeometry&)> check;
    };
    const std::vector<Case> cases{
        {"a row too crowded for the empty slot: the slot gives way, the gear keeps the right edge",
         [](ChromeInputs& in) {
             in.window = kWideFloor;
             in.classes = widthClasses(kWideFloor.width);
             in.microphone.width = 230;
             in.statusPill.width = 130;
             in.scenesButton.width = 141;
         },
         [](const ChromeGeometry& g) {
             EXPECT_EQ(g.buttonSlot.width, 0);
             EXPECT_EQ(g.microphone.x, 12);
             EXPECT_EQ(right(g.settingsMenu), 628);
             EXPECT_GE(g.statusPill.x, right(g.microphone) + 8 + 12 + 8) << "the gap keeps its minimum";
         }},
        {"in rail the slot stays while the row has room for it",
         [](ChromeInputs& in) {
             in.window = {420, 747};
             in.classes = widthClasses(420);
             in.microphone.width = 143;
             in.statusPill.width = 24;
         },
         [](const ChromeGeometry& g) {
             EXPECT_EQ(g.buttonSlot.width, 64);
             EXPECT_EQ(g.microphone.x, 84);
             EXPECT_EQ(right(g.settingsMenu), 408);
         }},
        {"a pill wider than the row: the gear still keeps the right edge",
         [](ChromeInputs& in) { in.statusPill.width = 1000; },
         [](const ChromeGeometry& g) { EXPECT_EQ(right(g.settingsMenu), 1140); }},
        {"a bar that does not fill the width is centred at its own width",
         [](ChromeInputs& in) { in.bottomBarFillsWidth = false; },
         [](const ChromeGeometry& g) { EXPECT_EQ(g.bottomBar, (RectF{476, 586, 200, 50})); }},
        {"a bar wider than the window is held between the paddings",
         [](ChromeInputs& in) {
             in.bottomBarFillsWidth = false;
             in.bottomBar.width = 5000;
         },
         [](const ChromeGeometry& g) { EXPECT_EQ(g.bottomBar, (RectF{12, 586, 1128, 50})); }},
        {"controls taller than the gradient raise the bottom area, not the gradient",
         [](ChromeInputs& in) { in.joystick = {300, 300}; },
         [](const ChromeGeometry& g) {
             EXPECT_EQ(g.bottomGradient.y, 438);
             EXPECT_EQ(g.bottomArea.y, g.joystick.y - 12);
         }},
        {"a short rail window: the rail stays clear of the joystick, the toast may lie under it",
         [](ChromeInputs& in) {
             in.window = kRailFloor;
             in.classes = widthClasses(kRailFloor.width);
             in.toast = SizeF{140, 30};
         },
         [](const ChromeGeometry& g) {
             ASSERT_TRUE(g.toolRail);
             EXPECT_EQ(bottom(*g.toolRail), g.joystick.y - 8);
             EXPECT_GE(g.toolRail->y, bottom(g.settingsMenu) + 8);
         }},
        {"a taller control centres the row's others on its middle",
         [](ChromeInputs& in) { in.microphone = {30, 34}; },
         [](const ChromeGeometry& g) {
             EXPECT_EQ(g.microphone.y, 8);
             EXPECT_EQ(g.settingsMenu.y, 10);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChromeInputs in = controls({1152, 648});
        c.change(in);
        c.check(chromeLayout(in));
    }
}

// The microphone as wide as the room the row leaves it: between it and the
// status pill lie the row's spacing, the spacer's minimum (8 in rail, 12
// otherwise) and the spacing again, not a point more or less; one point
// wider would cut into the spacer.
TEST(ChromeLayoutTest, AMicrophoneAsWideAsItsRoomLeavesTheMinimumGapExactly) {
    const struct {
        const char* name;
        SizeF window;
        double spacer;
    } cases[] = {
        {"wide", {1152, 648}, 12},
        {"the wide floor, crowded", kWideFloor, 12},
        {"compact", {800, 450}, 12},
        {"rail", {457, 812}, 8},
        {"the rail floor", kRailFloor, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ChromeInputs in = controls(c.window);
        in.statusPill.width = 160;
        in.scenesButton.width = 141;
        in.microphone.width = chromeLayout(in).microphoneRoom;
        const ChromeGeometry g = chromeLayout(in);
        ASSERT_GT(g.microphone.width, 0);
        EXPECT_DOUBLE_EQ(g.statusPill.x, right(g.microphone) + 8 + c.spacer + 8);
    }
}

TEST(ChromeLayoutTest, TheToastComesFromAboveTheTopEdgeWithAFade) {
    const RectF rest{500, 96, 150, 30};
    const struct {
        double progress;
        double y;
        double opacity;
    } cases[] = {
        {0, -30, 0},        // just out of sight: its bottom on the top edge
        {0.5, 33, 0.5},     // half way
        {1, 96, 1},         // at rest
        {-0.5, -30, 0},     // overshoot is held
        {1.5, 96, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.progress);
        const ToastPlacement placement = toastPlacement(rest, c.progress);
        EXPECT_DOUBLE_EQ(placement.rect.y, c.y);
        EXPECT_DOUBLE_EQ(placement.opacity, c.opacity);
        EXPECT_EQ(placement.rect.x, rest.x);
        EXPECT_EQ(placement.rect.width, rest.width);
    }
}

}  // namespace
}  // namespace lumenhollow
