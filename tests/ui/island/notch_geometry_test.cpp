// The island's placement and size as tables: every worked size, with and
// without a notch, the aspect limits, and which screen the island chooses.

#include "lumenhollow/ui/island/notch_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace lumenhollow::ui {
namespace {

// A 1512x982 screen with a 200x32 notch: 656 px of menu bar on each side.
NotchGeometry notched(int notchWidth = 200, int notchHeight = 32) {
    return NotchGeometry{QRect(0, 0, 1512, 982), 32, true, notchWidth, notchHeight};
}
NotchGeometry plain() { return NotchGeometry{QRect(0, 0, 1920, 1080), 0, false, 0, 0}; }

struct SizeCase {
    std::string name;
    NotchGeometry geometry;
    NotchContent content;
    double aspect;
    bool expanded;
    QSize expected;
};

TEST(NotchGeometry, IslandSizes) {
    const double wide = 16.0 / 9.0;
    const double tall = 9.0 / 16.0;
    const std::vector<SizeCase> cases = {
        {"collapsed beside the notch", notched(), NotchContent::preview, wide, false, {356, 32}},
        {"collapsed beside another notch", notched(180, 37), NotchContent::preview, wide, false, {336, 37}},
        {"collapsed without a notch", plain(), NotchContent::preview, wide, false, {210, 30}},
        {"collapsed ignores the content", plain(), NotchContent::controls, tall, false, {210, 30}},
        {"controls only, notch", notched(), NotchContent::controls, wide, true, {520, 96}},
        {"controls only, no notch", plain(), NotchContent::controls, wide, true, {520, 94}},
        // 488 * 9 / 16 = 274.5: halves round up.
        {"16:9 with the notch", notched(), NotchContent::preview, wide, true, {520, 383}},
        {"16:9 without a notch", plain(), NotchContent::preview, wide, true, {520, 381}},
        // 488 / (4/3) = 366, capped at 300.
        {"4:3 reaches the cap", plain(), NotchContent::preview, 4.0 / 3.0, true, {520, 406}},
        {"just above the cap's aspect", plain(), NotchContent::preview, 1.63, true, {520, 405}},
        {"aspect exactly 1 is landscape", plain(), NotchContent::preview, 1.0, true, {520, 406}},
        // 392 * 0.5625 = 220.5 rounds to 221; 221 + 128 = 349.
        {"9:16 with the notch", notched(), NotchContent::preview, tall, true, {444, 448}},
        {"9:16 without a notch", plain(), NotchContent::preview, tall, true, {349, 446}},
        // Below 0.3 the picture counts as 0.3: 392 * 0.3 = 117.6 -> 118, so 246 < 300.
        {"very narrow portrait", plain(), NotchContent::preview, 0.1, true, {300, 446}},
        {"very narrow portrait, notch", notched(), NotchContent::preview, 0.1, true, {444, 448}},
        {"wide portrait wins over the minimum", plain(), NotchContent::preview, 0.99, true, {516, 446}},
        // A picture size not known or broken counts as 16:9.
        {"zero aspect", plain(), NotchContent::preview, 0.0, true, {520, 381}},
        {"NaN aspect", plain(), NotchContent::preview, std::numeric_limits<double>::quiet_NaN(), true, {520, 381}},
    };
    for (const SizeCase& c : cases) {
        EXPECT_EQ(notchIslandSize(c.geometry, c.content, c.aspect, c.expanded), c.expected) << c.name;
    }
}

struct ScreenCase {
    std::string name;
    std::vector<ScreenInfo> screens;
    NotchGeometry expected;
    QRect panel;
};

ScreenNotch fakeNotch() { return ScreenNotch{32, 656, 656}; }

TEST(NotchGeometry, ChosenScreenAndPanelFrame) {
    const ScreenInfo left{"left", QRect(0, 0, 1920, 1080), QRect(0, 28, 1920, 1052), true, {}};
    const ScreenInfo right{"right", QRect(1920, 0, 1512, 982), QRect(1920, 0, 1512, 982), false, fakeNotch()};
    const ScreenInfo barless{"bare", QRect(0, 0, 1280, 800), QRect(0, 0, 1280, 800), false, {}};
    const ScreenInfo insetOnly{"inset", QRect(0, 0, 1280, 800), QRect(0, 24, 1280, 776), true, ScreenNotch{24, 500, {}}};
    const std::vector<ScreenCase> cases = {
        // Centred on the screen, 6 px under the top panel.
        {"primary without a notch", {left}, {left.frame, 28, false, 0, 0}, QRect(660, 34, 600, 460)},
        {"the notched screen wins over the primary", {left, right}, {right.frame, 0, true, 200, 32},
         QRect(1920 + 756 - 300, 0, 600, 460)},
        {"the primary over the first", {barless, left}, {left.frame, 28, false, 0, 0}, QRect(660, 34, 600, 460)},
        {"no primary: the first", {barless}, {barless.frame, 0, false, 0, 0}, QRect(340, 6, 600, 460)},
        {"an inset without both side areas is no notch", {insetOnly}, {insetOnly.frame, 24, false, 0, 0},
         QRect(340, 30, 600, 460)},
    };
    for (const ScreenCase& c : cases) {
        const auto geometry = chooseNotchGeometry(c.screens);
        ASSERT_TRUE(geometry.has_value()) << c.name;
        EXPECT_EQ(*geometry, c.expected) << c.name;
        EXPECT_EQ(notchPanelFrame(*geometry), c.panel) << c.name;
    }
    EXPECT_FALSE(chooseNotchGeometry({}).has_value());
}

TEST(NotchGeometry, HoverRectangleAndTitleWidth) {
    const QRect panel(660, 6, 600, 460);
    const QRect island = islandRectInPanel(panel, {210, 30});
    EXPECT_EQ(island, QRect(855, 6, 210, 30));
    struct Probe {
        QPoint point;
        bool inside;
    };
    // Up to 6 px around the island counts; the 7th does not.
    const std::vector<Probe> probes = {{{855, 6}, true},  {{849, 20}, true},  {{848, 20}, false},
                                       {{1070, 20}, true}, {{1071, 20}, false}, {{960, 41}, true},
                                       {{960, 42}, false}, {{960, 0}, true},   {{960, 300}, false}};
    for (const Probe& p : probes) {
        EXPECT_EQ(islandHoverContains(island, p.point), p.inside) << p.point.x() << "," << p.point.y();
    }
    EXPECT_EQ(islandTitleWidth(plain(), 520), 220);
    EXPECT_EQ(islandTitleWidth(notched(), 520), 130);
    // A notch wider than the open island leaves no room rather than a negative width.
    EXPECT_EQ(islandTitleWidth(notched(600), 520), 0);
}

}  // namespace
}  // namespace lumenhollow::ui
