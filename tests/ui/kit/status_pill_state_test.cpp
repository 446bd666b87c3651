#include "lumenhollow/ui/kit/status_pill_state.h"

#include <gtest/gtest.h>

namespace lumenhollow::ui {
namespace {

struct BatteryCase {
    int percent;
    bool charging;
    const char* symbol;
};

TEST(StatusPillState, BatterySymbolFollowsTheThresholds) {
    const BatteryCase cases[] = {
        {100, false, "battery.100percent"}, {76, false, "battery.100percent"}, {75, false, "battery.75percent"},
        {51, false, "battery.75percent"},   {50, false, "battery.50percent"},  {26, false, "battery.50percent"},
        {25, false, "battery.25percent"},   {11, false, "battery.25percent"},  {10, false, "battery.0percent"},
        {0, false, "battery.0percent"},     {5, true, "battery.100percent.bolt"}, {100, true, "battery.100percent.bolt"},
    };
    for (const BatteryCase& c : cases) {
        EXPECT_EQ(batterySymbol({c.percent, c.charging}), c.symbol) << c.percent << (c.charging ? " charging" : "");
    }
}

PublishedState allKnown() {
    PublishedState state;
    state.battery = hollowkit::BatteryStatus{80, false};
    state.cardStorage = hollowkit::CardStorage{12800, 61035};
    state.macFreeBytes = 245'800'000'000;
    return state;
}

TEST(StatusPillState, WideWindowShowsAllThreeFiguresInOrder) {
    const StatusPillState pill = statusPill(allKnown(), false);
    const std::vector<StatusFigure> expected{
        {"battery.100percent", "80%", "Camera battery"},
        {"sdcard", "12.5 GB / 59.6 GB", "Free space on the camera's microSD card"},
        {"internaldrive", "245.8 GB free", "Free space where recordings are saved"},
    };
    EXPECT_EQ(pill.figures, expected);
}

TEST(StatusPillState, CompactWindowShowsBatteryAndFreeCardSpaceOnly) {
    const StatusPillState pill = statusPill(allKnown(), true);
    ASSERT_EQ(pill.figures.size(), 2u);
    EXPECT_EQ(pill.figures[0].text, "80%");
    EXPECT_EQ(pill.figures[1].text, "12.5 GB");
}

TEST(StatusPillState, ChargingBatteryAtFivePercent) {
    PublishedState state;
    state.battery = hollowkit::BatteryStatus{5, true};
    const StatusPillState pill = statusPill(state, false);
    ASSERT_EQ(pill.figures.size(), 1u);
    EXPECT_EQ(pill.figures[0], (StatusFigure{"battery.100percent.bolt", "5%", "Camera battery, charging"}));
}

TEST(StatusPillState, AbsentValuesLeaveNoFigureBehind) {
    PublishedState state;
    EXPECT_TRUE(statusPill(state, false).figures.empty());
    EXPECT_TRUE(statusPill(state, true).figures.empty());
    state.macFreeBytes = 1'000'000'000;
    EXPECT_TRUE(statusPill(state, true).figures.empty());  // the computer's figure is wide-only
    const StatusPillState wide = statusPill(state, false);
    ASSERT_EQ(wide.figures.size(), 1u);
    EXPECT_EQ(wide.figures[0].symbol, "internaldrive");
}

// The capsule keeps its insets with no figure at all: the window still
// places it, with its background.
TEST(StatusPillState, TheCapsuleIsItsInsetsAroundTheFiguresAndSpacing) {
    const struct {
        std::vector<double> figures;
        double width;
    } cases[] = {
        {{}, 24},
        {{50}, 74},
        {{50, 40}, 126},
        {{50, 40, 30.5}, 168.5},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(statusPillWidth(c.figures), c.width) << c.figures.size() << " figures";
    }
}

TEST(StatusPillState, BatteryTextStaysWithinZeroToHundred) {
    PublishedState state;
    state.battery = hollowkit::BatteryStatus{140, false};
    EXPECT_EQ(statusPill(state, false).figures.at(0).text, "100%");
    state.battery = hollowkit::BatteryStatus{-3, false};
    EXPECT_EQ(statusPill(state, false).figures.at(0).text, "0%");
}

}  // namespace
}  // namespace lumenhollow::ui
