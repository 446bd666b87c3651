#include "lumenhollow/ui/shell/window_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace lumenhollow {
namespace {

constexpr double kWide = 16.0 / 9.0;
constexpr double kTall = 9.0 / 16.0;
constexpr FitRect kLaptop{0, 0, 1512, 944};

FitInputs fitOf(FitRect frame, FitRect area, double aspect, int contentMinimumHeight = 0, FitMemory memory = {}) {
    FitInputs inputs;
    inputs.frame = frame;
    inputs.area = area;
    inputs.aspect = aspect;
    inputs.contentMinimumHeight = contentMinimumHeight;
    inputs.memory = memory;
    return inputs;
}

std::string describe(const FitRect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

TEST(WindowFitTest, OneFitPlacesAndSizesTheWindow) {
    struct Case {
        const char* name;
        FitInputs inputs;
        FitRect expected;
        bool apply;
    };
    FitMemory landscapeAt756{false, FitSize{1152, 648}, std::nullopt, FitAnchor{756, 40}};
    const std::vector<Case> cases{
        {"the default landscape window stays", fitOf({180, 40, 1152, 648}, kLaptop, kWide), {180, 40, 1152, 648}, false},
        {"turning portrait: 0.86 of the area high, centred under the anchor, top kept",
         fitOf({180, 40, 1152, 648}, kLaptop, kTall, 0, landscapeAt756),
         {528, 40, 457, 812},
         true},
        {"turning portrait on a short screen takes the portrait minimum",
         fitOf({0, 0, 1152, 648}, {0, 0, 1280, 800}, kTall),
         {366, 0, 420, 747},
         true},
        {"the portrait minimum is capped at the visible height",
         fitOf({0, 0, 1152, 648}, {0, 0, 1280, 700}, kTall),
         {379, 0, 394, 700},
         true},
        {"a content minimum above 747 is honoured",
         fitOf({0, 0, 1152, 648}, kLaptop, kTall, 900),
         {323, 0, 506, 900},
         true},
        {"turning landscape with nothing saved: 0.75 of the area wide, at most 1152",
         fitOf({500, 0, 457, 812}, {0, 0, 1280, 800}, kWide),
         {249, 0, 960, 540},
         true},
        {"an aspect of exactly 1 counts as landscape", fitOf({10, 10, 1152, 648}, kLaptop, 1.0), {10, 10, 648, 648}, true},
        {"one pixel too wide is left alone", fitOf({100, 100, 1153, 648}, kLaptop, kWide), {100, 100, 1152, 648}, false},
        {"two pixels too wide are mended", fitOf({100, 100, 1154, 648}, kLaptop, kWide), {100, 100, 1152, 648}, true},
        {"too wide for the area: the width is the area's, the height follows, halves rounded up",
         fitOf({0, 0, 1400, 900}, kLaptop, kWide),
         {0, 0, 1512, 851},
         true},
        {"hanging off the bottom right: pulled back inside",
         fitOf({1000, 600, 1152, 648}, kLaptop, kWide),
         {360, 296, 1152, 648},
         true},
        {"above an area that starts lower: moved down to it",
         fitOf({100, 0, 1152, 648}, {0, 32, 1512, 912}, kWide),
         {100, 32, 1152, 648},
         true},
        {"no usable area: the window's own frame stands in",
         fitOf({0, 0, 1152, 648}, {}, kTall),
         {394, 0, 365, 648},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FitDecision decision = computeFit(c.inputs);
        EXPECT_FALSE(decision.skipped);
        EXPECT_EQ(decision.frame, c.expected) << describe(decision.frame);
        EXPECT_EQ(decision.apply, c.apply);
        // What the next fit starts from.
        EXPECT_EQ(decision.memory.portrait, c.inputs.aspect < 1);
        const std::optional<FitSize>& saved =
            c.inputs.aspect < 1 ? decision.memory.portraitSize : decision.memory.landscapeSize;
        EXPECT_EQ(saved, (FitSize{c.expected.width, c.expected.height}));
        ASSERT_TRUE(decision.memory.anchor.has_value());
        EXPECT_NEAR(decision.memory.anchor->x, c.expected.x + c.expected.width / 2.0, 0.5);
        EXPECT_EQ(decision.memory.anchor->y, c.expected.y);
    }
}

TEST(WindowFitTest, NothingHappensInFullScreenMaximisedOrWithoutAShape) {
    const FitMemory memory{true, std::nullopt, FitSize{457, 812}, FitAnchor{300, 20}};
    struct Case {
        const char* name;
        FitRect frame;
        double aspect;
        bool fullScreen;
        bool maximized;
    };
    const std::vector<Case> cases{
        {"full screen", {0, 0, 1512, 944}, kWide, true, false},
        {"maximised", {0, 0, 1512, 944}, kWide, false, true},
        {"a window of no height", {0, 0, 1152, 0}, kWide, false, false},
        {"no aspect", {0, 0, 1152, 648}, 0, false, false},
        {"a negative aspect", {0, 0, 1152, 648}, -1.5, false, false},
        {"a NaN aspect", {0, 0, 1152, 648}, std::numeric_limits<double>::quiet_NaN(), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FitInputs inputs = fitOf(c.frame, kLaptop, c.aspect);
        inputs.fullScreen = c.fullScreen;
        inputs.maximized = c.maximized;
        inputs.memory = memory;
        const FitDecision decision = computeFit(inputs);
        EXPECT_TRUE(decision.skipped);
        EXPECT_FALSE(decision.apply);
        EXPECT_EQ(decision.memory, memory);
        // A move in these states leaves the anchor too.
        const bool anchorKept = !anchorAfterMove(c.frame, c.fullScreen, c.maximized, memory.anchor).has_value();
        EXPECT_EQ(anchorKept, c.fullScreen || c.maximized);
    }
}

TEST(WindowFitTest, AMoveRecordsTheTopCentreButForHalfAPixel) {
    struct Case {
        const char* name;
        std::optional<FitAnchor> current;
        FitRect frame;
        bool fullScreen;
        std::optional<FitAnchor> expected;
    };
    const std::vector<Case> cases{
        {"no anchor yet", std::nullopt, {100, 50, 457, 812}, false, FitAnchor{328.5, 50}},
        {"half a pixel off an odd width: kept", FitAnchor{756, 40}, {528, 40, 457, 812}, false, FitAnchor{756, 40}},
        {"moved sideways", FitAnchor{756, 40}, {529, 40, 457, 812}, false, FitAnchor{757.5, 40}},
        {"moved down", FitAnchor{756, 40}, {528, 41, 457, 812}, false, FitAnchor{756.5, 41}},
        {"in full screen: nothing", FitAnchor{756, 40}, {0, 0, 1512, 944}, true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(anchorAfterMove(c.frame, c.fullScreen, false, c.current), c.expected);
    }
}

// Every resize that changed the height keeps the height the user chose and
// the width follows the picture, with the top left where the user left it;
// only one that changed the width alone (a side edge) keeps the width.
// Where the width the height asks for does not fit the screen, the height
// gives way.
TEST(WindowFitTest, AFinishedUserResizeKeepsTheHeightUnlessOnlyTheWidthChanged) {
    struct Case {
        const char* name;
        FitSize before;
        FitRect after;  // the window as the user left it
        FitRect expected;
    };
    const std::vector<Case> cases{
        {"bottom edge pulled down: the height stays", {1152, 648}, {50, 60, 1152, 720}, {50, 60, 1280, 720}},
        {"top edge pulled up: the height stays, the top left where it was left", {1152, 648}, {50, 0, 1152, 708},
         {50, 0, 1259, 708}},
        {"right edge pulled out: the width stays", {1152, 648}, {50, 60, 1400, 648}, {50, 60, 1400, 788}},
        {"left edge pulled in: the width stays, the top left too", {1152, 648}, {250, 60, 952, 648},
         {250, 60, 952, 536}},
        // The corner drags a window manager ended with the width kept.
        {"bottom-right corner out by 300, down by 20: the height stays", {1152, 648}, {50, 60, 1452, 668},
         {50, 60, 1188, 668}},
        {"top-right corner in by 200, up by 40: the height stays", {1152, 648}, {50, 20, 952, 688},
         {50, 20, 1223, 688}},
        {"bottom-left corner in by 300, up by 10: the height stays", {1152, 648}, {350, 60, 852, 638},
         {350, 60, 1134, 638}},
        {"corner, the height changed relatively more", {1152, 648}, {50, 60, 1160, 700}, {50, 60, 1244, 700}},
        {"corner, one row taller: the height stays", {1152, 648}, {50, 60, 1300, 649}, {50, 60, 1154, 649}},
        {"a height too tall for the screen's width: the height shrinks", {1152, 648}, {0, 0, 1152, 900},
         {0, 0, 1512, 851}},
        {"a corner pulled past the screen's width: the height shrinks", {1152, 648}, {0, 0, 1600, 900},
         {0, 0, 1512, 851}},
        {"a width past the screen: held to it", {1152, 648}, {0, 0, 1600, 648}, {0, 0, 1512, 851}},
        {"portrait, side pulled out", {457, 812}, {100, 0, 520, 812}, {100, 0, 520, 924}},
        {"portrait, corner pulled out more sideways than down", {457, 812}, {100, 0, 560, 832},
         {100, 0, 468, 832}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const double aspect = c.before.width > c.before.height ? kWide : kTall;
        FitInputs inputs = fitOf(c.after, kLaptop, aspect);
        inputs.resizedFrom = c.before;
        const FitDecision decision = computeFit(inputs);
        EXPECT_EQ(decision.frame, c.expected) << describe(decision.frame);
        EXPECT_TRUE(decision.apply);
    }
}

TEST(WindowFitTest, WithoutAUserResizeTheHeightDecides) {
    // A settled picture size arriving while the window has a stray width.
    const FitDecision decision = computeFit(fitOf({50, 60, 1400, 648}, kLaptop, kWide));
    EXPECT_EQ(decision.frame, (FitRect{50, 60, 1152, 648})) << describe(decision.frame);
}

TEST(WindowFitTest, AMenuBarInTheWindowComesOnTopOfThePicturesShape) {
    // A 19-row menu bar above the picture: the part below it takes the
    // aspect and the picture's sizes, the window is that much taller.
    constexpr int kBar = 19;
    struct Case {
        const char* name;
        FitInputs inputs;
        FitRect expected;  // the window, bar included
        FitSize picture;   // what the next fit remembers
    };
    auto withBar = [](FitInputs inputs, int contentMinimumHeight = 0) {
        inputs.chromeHeight = kBar;
        inputs.contentMinimumHeight = contentMinimumHeight;
        return inputs;
    };
    FitMemory landscapeAt756{false, FitSize{1152, 648}, std::nullopt, FitAnchor{756, 40}};
    const std::vector<Case> cases{
        {"the first window: 1152 wide, 648 under the bar", withBar(fitOf({180, 40, 1152, 667}, kLaptop, kWide)),
         {180, 40, 1152, 667}, {1152, 648}},
        {"a window 16:9 as a whole has bars beside its picture: it narrows",
         withBar(fitOf({180, 40, 1152, 648}, kLaptop, kWide)), {180, 40, 1118, 648}, {1118, 629}},
        {"the smallest landscape picture under the bar: 428 high, 16:9 of it is within a pixel",
         withBar(fitOf({0, 0, 760, 447}, kLaptop, kWide)), {0, 0, 761, 447}, {761, 428}},
        {"turning portrait: 0.86 of the area under the bar, top kept",
         withBar(fitOf({180, 40, 1152, 667}, kLaptop, kTall, 0, landscapeAt756)), {533, 40, 447, 815}, {447, 796}},
        {"the portrait minimum is the picture's, the window's minimum holds the bar",
         withBar(fitOf({0, 0, 1152, 667}, {0, 0, 1280, 800}, kTall), 747 + kBar), {366, 0, 420, 766}, {420, 747}},
        {"a tall window hangs off the area's bottom: the picture and the bar fit inside",
         withBar(fitOf({0, 0, 1400, 900}, kLaptop, kWide)), {0, 0, 1512, 870}, {1512, 851}},
        {"a user widening from the side: the picture keeps the width",
         [&] {
             FitInputs in = withBar(fitOf({50, 60, 1400, 667}, kLaptop, kWide));
             in.resizedFrom = FitSize{1152, 667};
             return in;
         }(),
         {50, 60, 1400, 807}, {1400, 788}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FitDecision decision = computeFit(c.inputs);
        ASSERT_FALSE(decision.skipped);
        EXPECT_EQ(decision.frame, c.expected) << describe(decision.frame);
        const std::optional<FitSize>& saved =
            c.inputs.aspect < 1 ? decision.memory.portraitSize : decision.memory.landscapeSize;
        EXPECT_EQ(saved, c.picture);
        // The anchor is the window's top centre, bar included.
        ASSERT_TRUE(decision.memory.anchor.has_value());
        EXPECT_EQ(decision.memory.anchor->y, c.expected.y);
        EXPECT_NEAR(decision.memory.anchor->x, c.expected.x + c.expected.width / 2.0, 0.5);
    }
}

TEST(WindowFitTest, AWindowNoTallerThanItsMenuBarIsLeftAlone) {
    FitInputs inputs = fitOf({0, 0, 1152, 19}, kLaptop, kWide);
    inputs.chromeHeight = 19;
    EXPECT_TRUE(computeFit(inputs).skipped);
}

TEST(WindowFitTest, TurningBackRestoresTheSizeEachOrientationHadLast) {
    // Each step either turns the picture (a settled aspect) or is the user
    // resizing to a size; the window then takes each applied fit.
    struct Step {
        double aspect;
        std::optional<FitSize> userResize;
        FitRect expected;
    };
    struct Case {
        const char* name;
        FitRect start;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases{
        {"landscape, portrait, landscape",
         {180, 40, 1152, 648},
         {{kWide, std::nullopt, {180, 40, 1152, 648}},
          {kTall, std::nullopt, {528, 40, 457, 812}},
          {kWide, std::nullopt, {180, 40, 1152, 648}}}},
        {"a resized portrait height comes back after a landscape spell that had no size yet",
         {180, 40, 1152, 648},
         {{kTall, std::nullopt, {528, 40, 457, 812}},
          {kTall, FitSize{457, 700}, {528, 40, 394, 700}},
          {kWide, std::nullopt, {158, 40, 1134, 638}},
          {kTall, std::nullopt, {528, 40, 394, 700}}}},
        {"a resized landscape height comes back after a portrait spell",
         {0, 0, 1152, 648},
         {{kWide, FitSize{1152, 720}, {0, 0, 1280, 720}},
          {kTall, std::nullopt, {412, 0, 457, 812}},
          {kWide, std::nullopt, {0, 0, 1280, 720}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FitRect window = c.start;
        FitMemory memory;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = c.steps[i];
            FitInputs inputs = fitOf(window, kLaptop, step.aspect);
            inputs.memory = memory;
            if (step.userResize) {
                inputs.resizedFrom = FitSize{window.width, window.height};
                inputs.frame.width = step.userResize->width;
                inputs.frame.height = step.userResize->height;
            }
            const FitDecision decision = computeFit(inputs);
            if (decision.apply) window = decision.frame;
            memory = decision.memory;
            EXPECT_EQ(window, step.expected) << describe(window);
        }
    }
}

// Below the floor the controls would not fit: the window grows past the
// picture's shape instead, and a picture too short for the narrow
// arrangement gets the wide one's width. An area shorter than the wide
// floor holds the window down to the wide arrangement's shortest.
TEST(WindowFitTest, NoFitGoesBelowTheFloor) {
    const FitFloor floor{640, FitSize{420, 654}, FitSize{640, 360}, 300};
    struct Case {
        const char* name;
        FitInputs inputs;
        FitRect expected;
    };
    auto withFloor = [&floor](FitInputs inputs) {
        inputs.floor = floor;
        return inputs;
    };
    const std::vector<Case> cases{
        {"portrait on a short screen: 640 wide, not 229", withFloor(fitOf({0, 0, 760, 428}, {0, 0, 760, 428}, kTall)),
         {60, 0, 640, 428}},
        {"without a floor it keeps the picture's shape", fitOf({0, 0, 760, 428}, {0, 0, 760, 428}, kTall),
         {260, 0, 241, 428}},
        {"portrait tall enough for the narrow arrangement: widened to its 420",
         withFloor(fitOf({0, 0, 1152, 648}, {0, 0, 1280, 700}, kTall)), {366, 0, 420, 700}},
        {"landscape on the smallest screen stays 16:9 above the floor",
         withFloor(fitOf({0, 0, 760, 428}, {0, 0, 760, 428}, kWide)), {0, 0, 760, 428}},
        {"a user shrinking a landscape window past the floor: held at 640 x 360",
         [&] {
             FitInputs in = withFloor(fitOf({30, 40, 500, 281}, kLaptop, kWide));
             in.resizedFrom = FitSize{1152, 648};
             return in;
         }(),
         {30, 40, 640, 360}},
        {"a screen narrower and shorter than the floor: as high as the screen, its top left on it",
         withFloor(fitOf({0, 0, 600, 338}, {0, 0, 600, 338}, kWide)), {0, 0, 640, 338}},
        {"a screen shorter than the shortest: held at the shortest",
         withFloor(fitOf({0, 0, 600, 280}, {0, 0, 600, 280}, kWide)), {0, 0, 640, 300}},
        {"a tall screen: the floor's own height", withFloor(fitOf({0, 0, 600, 338}, kLaptop, kWide)),
         {0, 0, 640, 360}},
        {"the smallest screen under a window manager's frame: bars beside the picture under the strip",
         [&] {
             // The screen less the frame (1, 20, 1, 5), and that below the strip.
             FitInputs in = withFloor(fitOf({0, 0, 760, 449}, {1, 20, 758, 403}, kWide));
             in.clearArea = FitRect{1, 62, 758, 361};
             in.chromeHeight = 21;
             return in;
         }(),
         {1, 62, 640, 361}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FitDecision decision = computeFit(c.inputs);
        ASSERT_FALSE(decision.skipped);
        EXPECT_EQ(decision.frame, c.expected) << describe(decision.frame);
    }
}

// The island's closed strip over the top of the screen: the window goes
// under it when it fits there whole, else the whole area holds it.
TEST(WindowFitTest, TheWindowGoesUnderTheIslandsStripWhereItFits) {
    constexpr FitRect kSmallest{0, 0, 760, 428};
    constexpr FitRect kStrip{269, 0, 222, 42};
    struct Case {
        const char* name;
        FitRect screen;
        int chrome;
        FitRect frame;
        FitRect expected;
    };
    const std::vector<Case> cases{
        {"the smallest screen: under the strip, 16:9 below the menu bar", kSmallest, 21, {0, 0, 760, 428},
         {0, 42, 649, 386}},
        {"a window the user put over the strip is moved under it", kLaptop, 0, {180, 0, 1152, 648},
         {180, 42, 1152, 648}},
        {"too tall to go under the strip: the whole screen, as before", {0, 0, 760, 400}, 21, {0, 0, 760, 400},
         {0, 0, 674, 400}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FitInputs in = fitOf(c.frame, c.screen, kWide);
        in.chromeHeight = c.chrome;
        in.floor = FitFloor{640, FitSize{420, 400}, FitSize{640, 360}};
        in.clearArea = areaClearOf(c.screen, FitRect{c.screen.width / 2 - 111, 0, 222, 42});
        EXPECT_EQ(describe(computeFit(in).frame), describe(c.expected));
    }

    struct Clear {
        const char* name;
        FitRect area;
        FitRect over;
        FitRect expected;
    };
    const std::vector<Clear> clears{
        {"the strip over the top", kSmallest, kStrip, {0, 42, 760, 386}},
        {"an area starting below a panel", {0, 24, 760, 404}, {269, 24, 222, 42}, {0, 66, 760, 362}},
        {"a strip on another screen", {1512, 0, 760, 428}, kStrip, {}},
        {"no strip", kSmallest, {}, {}},
        {"a strip reaching the bottom leaves no room", kSmallest, {269, 0, 222, 428}, {}},
    };
    for (const Clear& c : clears) {
        EXPECT_EQ(areaClearOf(c.area, c.over), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace lumenhollow
