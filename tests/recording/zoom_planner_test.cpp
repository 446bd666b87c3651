#include "hollowkit/recording/zoom_planner.h"

#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

using Segment = ZoomPlanner::Segment;

// A pointer resting at (x, y), sampled every 1/60 s over [0, duration], with
// the button down for one sample at each click time.
struct Click {
    double time;
    double x;
    double y;
    bool overApp = false;
};

CursorTimeline timelineWith(const std::vector<Click>& clicks, double duration, std::vector<double> keys = {}) {
    CursorTimeline timeline;
    double x = 0.5;
    double y = 0.5;
    size_t next = 0;
    for (int i = 0; i <= static_cast<int>(std::ceil(duration * 60)); ++i) {
        const double t = i / 60.0;
        bool pressed = false;
        bool overApp = false;
        while (next < clicks.size() && clicks[next].time <= t + 1e-9) {
            x = clicks[next].x;
            y = clicks[next].y;
            overApp = clicks[next].overApp;
            pressed = std::abs(clicks[next].time - t) < 1e-9;
            ++next;
        }
        timeline.samples.push_back({t, x, y, pressed, overApp});
    }
    timeline.keyPresses = std::move(keys);
    return timeline;
}

void expectSegments(const std::vector<Segment>& actual, const std::vector<Segment>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i].start, expected[i].start, 1e-9) << "segment " << i;
        EXPECT_NEAR(actual[i].end, expected[i].end, 1e-9) << "segment " << i;
        EXPECT_EQ(actual[i].focus, expected[i].focus) << "segment " << i;
    }
}

struct SegmentCase {
    const char* name;
    std::vector<Click> clicks;
    std::vector<double> keys;
    double duration;
    std::vector<Segment> expected;
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const SegmentCase& c, std::ostream* os) {
    *os << c.name;
}

class ZoomSegmentsTest : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(ZoomSegmentsTest, GroupsClicksAndTyping) {
    const SegmentCase& c = GetParam();
    expectSegments(ZoomPlanner::segments(timelineWith(c.clicks, c.duration, c.keys), c.duration), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, ZoomSegmentsTest,
    ::testing::Values(
        SegmentCase{"EarlyClickStartsAtZero", {{0.2, 0.3, 0.4}}, {}, 10, {{0, 2.7, {0.3, 0.4}}}},
        SegmentCase{"ClicksThreeSecondsApartMerge",
                    {{1.0, 0.3, 0.4}, {4.0, 0.8, 0.9}},
                    {},
                    20,
                    {{0.6, 6.5, {0.3, 0.4}}}},
        SegmentCase{"ClicksSixSecondsApartStaySeparate",
                    {{1.0, 0.3, 0.4}, {7.0, 0.8, 0.9}},
                    {},
                    20,
                    {{0.6, 3.5, {0.3, 0.4}}, {6.6, 9.5, {0.8, 0.9}}}},
        SegmentCase{"TypingBridgesTwoSegments",
                    {{1.0, 0.3, 0.4}, {7.0, 0.8, 0.9}},
                    {4.0},
                    20,
                    {{0.6, 9.5, {0.3, 0.4}}}},
        SegmentCase{"KeyJustInsideTheGapExtends", {{1.0, 0.3, 0.4}}, {3.5 + 2.4}, 20, {{0.6, 8.4, {0.3, 0.4}}}},
        SegmentCase{"KeyJustOutsideTheGapDoesNot", {{1.0, 0.3, 0.4}}, {3.5 + 2.6}, 20, {{0.6, 3.5, {0.3, 0.4}}}},
        SegmentCase{"ExtensionStopsBeforeTheEnd", {{1.0, 0.3, 0.4}}, {5.0}, 7, {{0.6, 6.2, {0.3, 0.4}}}},
        SegmentCase{"ClickOnTheAppIgnored", {{1.0, 0.3, 0.4, true}}, {}, 10, {}},
        SegmentCase{"ClickOffTheDisplayIgnored", {{1.0, -0.1, 0.4}, {2.0, 0.5, 1.2}}, {}, 10, {}},
        SegmentCase{"ClickInTheLastSecondIgnored", {{9.1, 0.3, 0.4}}, {}, 10, {}},
        SegmentCase{"ClickAtZeroOfAOneSecondTakeIgnored", {{0.0, 0.3, 0.4}}, {}, 1.0, {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ZoomPlannerTest, NothingToZoomGivesTheEmptyPath) {
    EXPECT_EQ(ZoomPlanner::plan(timelineWith({{0.0, 0.3, 0.4}}, 1.0), 1.0), ZoomPath::none());
    EXPECT_EQ(ZoomPlanner::plan(CursorTimeline{}, 10), ZoomPath::none());
    EXPECT_EQ(ZoomPlanner::plan(timelineWith({{1.0, 0.3, 0.4}}, 10), 0), ZoomPath::none());
    EXPECT_EQ(ZoomPlanner::plan(timelineWith({{1.0, 0.3, 0.4}}, 10), std::numeric_limits<double>::quiet_NaN()),
              ZoomPath::none());
    EXPECT_TRUE(ZoomPath::none().isFullFrame());
}

TEST(ZoomPlannerTest, SingleClickZoomsInFollowsAndReturns) {
    // A click near the top left corner: the view must stay inside the screen.
    const ZoomPath path = ZoomPlanner::plan(timelineWith({{1.0, 0.1, 0.15}}, 8), 8);
    ASSERT_EQ(path.rects.size(), static_cast<size_t>(8 * 60 + 1));
    EXPECT_FALSE(path.isFullFrame());

    const double fullZoom = 1 / 1.8;
    const double lowest = 0.5 / 1.8;
    double narrowest = 1;
    for (size_t i = 0; i < path.rects.size(); ++i) {
        const double t = static_cast<double>(i) / 60;
        const ZoomRect& r = path.rects[i];
        EXPECT_EQ(r.width, r.height);
        if (t < 0.6 - 1e-9) {
            EXPECT_EQ(r, (ZoomRect{0, 0, 1, 1})) << t;
        }
        if (r.width <= 1) {
            EXPECT_GE(r.x, -1e-12) << t;
            EXPECT_GE(r.y, -1e-12) << t;
            EXPECT_LE(r.maxX(), 1 + 1e-12) << t;
            EXPECT_LE(r.maxY(), 1 + 1e-12) << t;
        }
        narrowest = std::min(narrowest, r.width);
        if (t > 1.6 && t < 3.5) {
            // Zoomed most of the way, centred on the click clamped into reach.
            EXPECT_LT(r.width, 0.75) << t;
            EXPECT_GT(r.x + r.width / 2, lowest - 0.02) << t;
        }
    }
    EXPECT_NEAR(narrowest, fullZoom, 0.01);
    // The view's centre settles on the clamped click point.
    const ZoomRect settled = path.rect(3.4);
    EXPECT_NEAR(settled.x + settled.width / 2, lowest, 0.01);
    EXPECT_NEAR(settled.y + settled.height / 2, lowest, 0.01);
    // Back to the whole screen about two seconds after the segment ends.
    EXPECT_GT(path.rect(5.5).width, 0.999);
    EXPECT_GT(path.rect(8).width, 0.999);
}

TEST(ZoomPlannerTest, PointerInsideTheSafeBoxDoesNotMoveTheView) {
    const double duration = 10;
    CursorTimeline timeline = timelineWith({{1.0, 0.5, 0.5}}, duration);
    // After the lead-in the pointer wanders within the box (half-size
    // 0.5 / 1.8 x 0.5 = 0.139 once zoomed), then leaves it to the right.
    for (auto& sample : timeline.samples) {
        if (sample.time > 1.5 && sample.time < 2.5) sample.x = 0.5 + 0.1 * std::sin(sample.time * 9);
        if (sample.time >= 2.5) sample.x = 0.9;
    }
    const ZoomPath path = ZoomPlanner::plan(timeline, duration);
    for (double t = 1.5; t < 2.3; t += 0.05) {
        const ZoomRect r = path.rect(t);
        EXPECT_NEAR(r.x + r.width / 2, 0.5, 1e-9) << t;
    }
    // Dragged right: the pointer ends up on the box's edge, the target stays
    // clamped where a full zoom fits.
    const ZoomRect dragged = path.rect(3.3);
    EXPECT_GT(dragged.x + dragged.width / 2, 0.65);
}

TEST(ZoomPathTest, RectAtInterpolatesAndClamps) {
    ZoomPath path;
    path.rects = {{0, 0, 1, 1}, {0.1, 0.2, 0.8, 0.8}, {0.2, 0.3, 0.6, 0.6}};
    EXPECT_EQ(ZoomPath{}.rect(5), (ZoomRect{0, 0, 1, 1}));
    const ZoomRect half = path.rect(1.0 / 120);
    EXPECT_NEAR(half.x, 0.05, 1e-12);
    EXPECT_NEAR(half.y, 0.1, 1e-12);
    EXPECT_NEAR(half.width, 0.9, 1e-12);
    EXPECT_NEAR(half.height, 0.9, 1e-12);
    EXPECT_EQ(path.rect(-3), path.rects[0]);
    EXPECT_EQ(path.rect(2.0 / 60), path.rects[2]);
    EXPECT_EQ(path.rect(1e300), path.rects[2]);
    EXPECT_EQ(path.rect(std::numeric_limits<double>::infinity()), path.rects[2]);
    EXPECT_EQ(path.rect(std::numeric_limits<double>::quiet_NaN()), path.rects[0]);
    EXPECT_FALSE(path.isFullFrame());
}

}  // namespace
}  // namespace hollowkit
