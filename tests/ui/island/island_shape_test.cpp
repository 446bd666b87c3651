// The island's outline: parameters per state, the clamped corner radius and
// where the outline covers and leaves out, and the look's blend while animating.

#include "lumenhollow/ui/island/island_shape.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lumenhollow/ui/island/island_look.h"

namespace lumenhollow::ui {
namespace {

TEST(IslandShape, ParametersAndRadiusPerState) {
    struct Case {
        std::string name;
        IslandShape shape;
        QRectF rect;
        IslandShape expected;
        double radius;
    };
    const std::vector<Case> cases = {
        {"notch, collapsed", islandShape(true, false), {0, 0, 356, 32}, {7, 11, false}, 11},
        {"notch, expanded", islandShape(true, true), {0, 0, 520, 383}, {14, 30, false}, 30},
        // A 30-high strip gets fully round ends.
        {"no notch, collapsed", islandShape(false, false), {0, 0, 210, 30}, {0, 15, true}, 15},
        {"no notch, expanded", islandShape(false, true), {0, 0, 520, 381}, {0, 30, true}, 30},
        {"round top lower than twice the radius", islandShape(false, true), {0, 0, 210, 40}, {0, 30, true}, 20},
        // min((w - 2s)/2, (h - s)/2, r): the bottom corners meet.
        {"notch, too narrow", islandShape(true, false), {0, 0, 30, 32}, {7, 11, false}, 8},
        {"notch, too low", islandShape(true, false), {0, 0, 356, 20}, {7, 11, false}, 6.5},
        {"notch, narrower than both shoulders", islandShape(true, true), {0, 0, 20, 383}, {14, 30, false}, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.shape, c.expected) << c.name;
        EXPECT_DOUBLE_EQ(c.shape.effectiveRadius(c.rect), c.radius) << c.name;
        EXPECT_FALSE(c.shape.path(c.rect).isEmpty()) << c.name;
    }
}

TEST(IslandShape, OutlineCoversTheBodyAndFlaresOnlyAtTheTop) {
    const QRectF notched(100, 0, 356, 32);
    const QPainterPath shoulders = islandShape(true, false).path(notched);
    const QPainterPath round = islandShape(false, false).path(QRectF(100, 0, 210, 30));
    struct Probe {
        std::string name;
        const QPainterPath* path;
        QPointF point;
        bool inside;
    };
    const std::vector<Probe> probes = {
        {"the left shoulder flares out at the top", &shoulders, {103.5, 0.5}, true},
        {"the right shoulder flares out at the top", &shoulders, {452.5, 0.5}, true},
        {"beside the wall under the shoulder", &shoulders, {103, 16}, false},
        {"just inside the left wall", &shoulders, {108, 16}, true},
        {"beside the right wall", &shoulders, {453, 16}, false},
        {"the lower left corner is cut", &shoulders, {107.5, 31.5}, false},
        {"bottom middle", &shoulders, {278, 31.5}, true},
        {"round top: the top corner is cut", &round, {100.5, 0.5}, false},
        {"round top: the middle", &round, {205, 15}, true},
        {"round top: the end's middle", &round, {100.5, 15}, true},
    };
    for (const Probe& p : probes) EXPECT_EQ(p.path->contains(p.point), p.inside) << p.name;
    EXPECT_EQ(shoulders.boundingRect(), notched);
}

TEST(IslandLook, BlendsTheOutlineShadowAndContents) {
    const NotchGeometry plain{QRect(0, 0, 1920, 1080), 0, false, 0, 0};
    const NotchGeometry notched{QRect(0, 0, 1512, 982), 32, true, 200, 32};
    struct Case {
        std::string name;
        NotchGeometry geometry;
        QSize collapsed;
        QSize expanded;
        IslandProgress progress;
        QRectF island;
        IslandShape shape;
        double shadow;
        double scale;
    };
    const std::vector<Case> cases = {
        {"collapsed", plain, {210, 30}, {520, 381}, IslandProgress::at(false), {195, 0, 210, 30}, {0, 15, true}, 0, 0.96},
        {"open", plain, {210, 30}, {520, 381}, IslandProgress::at(true), {40, 0, 520, 381}, {0, 30, true}, 0.45, 1},
        {"halfway, notch", notched, {356, 32}, {520, 383}, {0.5, 0.5, 0.5}, {81, 0, 438, 207.5}, {10.5, 20.5, false},
         0.225, 0.98},
        // A spring passing its end: the outline overshoots, the shadow does not.
        {"overshoot", plain, {210, 30}, {520, 381}, {1.1, 0, 1}, {24.5, 0, 551, 416.1}, {0, 31.5, true}, 0.45, 1},
    };
    for (const Case& c : cases) {
        const IslandLook look = islandLook(c.geometry, c.collapsed, c.expanded, c.progress);
        EXPECT_NEAR(look.island.x(), c.island.x(), 1e-9) << c.name;
        EXPECT_NEAR(look.island.width(), c.island.width(), 1e-9) << c.name;
        EXPECT_NEAR(look.island.height(), c.island.height(), 1e-9) << c.name;
        EXPECT_EQ(look.island.y(), 0) << c.name;
        EXPECT_NEAR(look.shape.shoulder, c.shape.shoulder, 1e-9) << c.name;
        EXPECT_NEAR(look.shape.bottomRadius, c.shape.bottomRadius, 1e-9) << c.name;
        EXPECT_EQ(look.shape.roundTop, c.shape.roundTop) << c.name;
        EXPECT_NEAR(look.shadowOpacity, c.shadow, 1e-9) << c.name;
        EXPECT_NEAR(look.expandedScale, c.scale, 1e-9) << c.name;
    }
    // The open content waits 0.08 s, then eases in over 0.2 s.
    EXPECT_EQ(expandedRevealAt(0.07), 0);
    EXPECT_GT(expandedRevealAt(0.1), 0);
    EXPECT_LT(expandedRevealAt(0.27), 1);
    EXPECT_DOUBLE_EQ(expandedRevealAt(0.28), 1);
    EXPECT_GT(expandedRevealAt(0.18), 0.5) << "eased out: more than half way at half time";
}

}  // namespace
}  // namespace lumenhollow::ui
