#include "lumenhollow/ui/window/joystick_pad_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace lumenhollow::test {
namespace {

constexpr double kPadTestNaN = std::numeric_limits<double>::quiet_NaN();

TEST(JoystickPadStateTest, TheMainWindowsPadHasItsArrowsAt34AndAKnobTravelOf29) {
    const PadMetrics metrics = padMetrics(96, 30);
    EXPECT_DOUBLE_EQ(metrics.arrowRadius, 34);
    EXPECT_DOUBLE_EQ(metrics.knobTravel, 29);
    const std::array<PadArrow, 4> arrows = padArrows(metrics);
    EXPECT_EQ(arrows[0].direction, GimbalDirection::up);
    EXPECT_EQ(arrows[0].centre, (PadPoint{0, -34}));
    EXPECT_EQ(arrows[3].direction, GimbalDirection::right);
    EXPECT_EQ(arrows[3].centre, (PadPoint{34, 0}));
}

TEST(JoystickPadStateTest, TheKnobFollowsThePointerToItsCircleAndDeflectsUpwardPositive) {
    struct Case {
        const char* name;
        PadPoint translation;
        bool begins;
        PadPoint offset;
        KnobDeflection deflection;
    };
    const double diagonal = 29 / std::sqrt(2.0);
    const std::vector<Case> cases{
        {"58 up stops 29 above the centre", {0, -58}, true, {0, -29}, {0, 1}},
        {"10 right is followed exactly", {10, 0}, true, {10, 0}, {10.0 / 29, 0}},
        {"far down-left lies on the circle at 45 degrees", {-300, 300}, true, {-diagonal, diagonal},
         {-diagonal / 29, -diagonal / 29}},
        {"just inside the circle", {0, 28}, true, {0, 28}, {0, -28.0 / 29}},
        {"9.2 points starts no drag", {6, -7}, false, {6, -7}, {6.0 / 29, 7.0 / 29}},
        {"under a point is not magnified", {0.5, 0}, false, {0.5, 0}, {0.5 / 29, 0}},
        {"no movement", {0, 0}, false, {0, 0}, {0, 0}},
        {"not a number leaves the knob centred", {kPadTestNaN, 5}, false, {0, 0}, {0, 0}},
    };
    const PadMetrics metrics = padMetrics(96, 30);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(knobDragBegins(c.translation), c.begins);
        const PadPoint offset = knobOffsetFor(metrics, c.translation);
        EXPECT_NEAR(offset.x, c.offset.x, 1e-9);
        EXPECT_NEAR(offset.y, c.offset.y, 1e-9);
        EXPECT_LE(std::hypot(offset.x, offset.y), metrics.knobTravel + 1e-9);
        const KnobDeflection deflection = knobDeflection(metrics, offset);
        EXPECT_NEAR(deflection.x, c.deflection.x, 1e-9);
        EXPECT_NEAR(deflection.y, c.deflection.y, 1e-9);
    }
}

TEST(JoystickPadStateTest, APressLandsOnTheKnobInFrontThenOnAnArrowsWholeSquare) {
    struct Case {
        const char* name;
        PadPoint at;
        PadPoint knobOffset;
        PadHit hit;
    };
    const PadHit knob{PadTarget::knob, GimbalDirection::up};
    const auto arrow = [](GimbalDirection direction) { return PadHit{PadTarget::arrow, direction}; };
    const std::vector<Case> cases{
        {"the centre", {0, 0}, {0, 0}, knob},
        {"the knob's rim", {0, 15}, {0, 0}, knob},
        {"between the knob and the arrows", {0, -17}, {0, 0}, {}},
        {"up", {0, -34}, {0, 0}, arrow(GimbalDirection::up)},
        {"down", {0, 34}, {0, 0}, arrow(GimbalDirection::down)},
        {"left", {-34, 0}, {0, 0}, arrow(GimbalDirection::left)},
        {"right", {34, 0}, {0, 0}, arrow(GimbalDirection::right)},
        {"the corner of up's square", {13, -47}, {0, 0}, arrow(GimbalDirection::up)},
        {"just outside up's square", {14, -34}, {0, 0}, {}},
        {"a knob pushed onto the up arrow covers it", {0, -34}, {0, -29}, knob},
        {"the knob moved away uncovers the centre", {0, 0}, {29, 0}, {}},
    };
    const PadMetrics metrics = padMetrics(96, 30);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(padHit(metrics, c.at, c.knobOffset), c.hit);
    }
}

}  // namespace
}  // namespace lumenhollow::test
