// The corner picker's targets on the panel's 132 x 84 miniature: where each
// sits for every shape and size, which one is lit, and where a click lands.

#include <gtest/gtest.h>

#include "lumenhollow/ui/panels/corner_picker_layout.h"

namespace lumenhollow {
namespace {

using hollowkit::BubbleCorner;
using hollowkit::BubbleShape;
using hollowkit::BubbleSize;

const QSizeF kCanvas(132, 84);

TEST(CornerPickerLayoutTest, TargetsSitWhereTheComposerPutsTheBubbleOnTheMiniature) {
    // Centres in the picker's own coordinates, origin top left.
    const struct {
        BubbleShape shape;
        BubbleSize size;
        BubbleCorner corner;
        double side;
        QPointF centre;
    } cases[] = {
        {BubbleShape::circle, BubbleSize::small, BubbleCorner::topLeading, 17, {11.5, 11.5}},
        {BubbleShape::circle, BubbleSize::small, BubbleCorner::topTrailing, 17, {120.5, 11.5}},
        {BubbleShape::circle, BubbleSize::small, BubbleCorner::bottomLeading, 17, {11.5, 72.5}},
        {BubbleShape::circle, BubbleSize::small, BubbleCorner::bottomTrailing, 17, {120.5, 72.5}},
        {BubbleShape::circle, BubbleSize::medium, BubbleCorner::topLeading, 24, {15, 15}},
        {BubbleShape::circle, BubbleSize::medium, BubbleCorner::bottomTrailing, 24, {117, 69}},
        {BubbleShape::circle, BubbleSize::large, BubbleCorner::topTrailing, 32, {113, 19}},
        {BubbleShape::circle, BubbleSize::large, BubbleCorner::bottomLeading, 32, {19, 65}},
        {BubbleShape::cutout, BubbleSize::small, BubbleCorner::bottomLeading, 29, {16.5, 69.5}},
        {BubbleShape::cutout, BubbleSize::small, BubbleCorner::bottomTrailing, 29, {115.5, 69.5}},
        {BubbleShape::cutout, BubbleSize::medium, BubbleCorner::bottomLeading, 39, {21.5, 64.5}},
        {BubbleShape::cutout, BubbleSize::large, BubbleCorner::bottomTrailing, 50, {105, 59}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << static_cast<int>(c.shape) << "/" << static_cast<int>(c.size) << "/"
                                        << static_cast<int>(c.corner));
        const std::vector<CornerTarget> targets = cornerTargets(c.corner, c.size, c.shape, kCanvas);
        const auto found = std::find_if(targets.begin(), targets.end(),
                                        [&](const CornerTarget& t) { return t.corner == c.corner; });
        ASSERT_NE(found, targets.end());
        EXPECT_DOUBLE_EQ(found->rect.width(), c.side);
        EXPECT_DOUBLE_EQ(found->rect.height(), c.side);
        EXPECT_DOUBLE_EQ(found->rect.center().x(), c.centre.x());
        EXPECT_DOUBLE_EQ(found->rect.center().y(), c.centre.y());
        EXPECT_TRUE(QRectF(QPointF(0, 0), kCanvas).contains(found->rect));
    }
}

TEST(CornerPickerLayoutTest, OneTargetIsLitAndACutOutGoesBySide) {
    const struct {
        BubbleShape shape;
        BubbleCorner selection;
        std::vector<BubbleCorner> targets;
        BubbleCorner lit;
        std::vector<QString> help;
    } cases[] = {
        {BubbleShape::circle, BubbleCorner::topTrailing,
         {BubbleCorner::topLeading, BubbleCorner::topTrailing, BubbleCorner::bottomLeading, BubbleCorner::bottomTrailing},
         BubbleCorner::topTrailing,
         {"Top Left", "Top Right", "Bottom Left", "Bottom Right"}},
        {BubbleShape::cutout, BubbleCorner::topTrailing, {BubbleCorner::bottomLeading, BubbleCorner::bottomTrailing},
         BubbleCorner::bottomTrailing, {"Left", "Right"}},
        {BubbleShape::cutout, BubbleCorner::topLeading, {BubbleCorner::bottomLeading, BubbleCorner::bottomTrailing},
         BubbleCorner::bottomLeading, {"Left", "Right"}},
        {BubbleShape::cutout, BubbleCorner::bottomLeading, {BubbleCorner::bottomLeading, BubbleCorner::bottomTrailing},
         BubbleCorner::bottomLeading, {"Left", "Right"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << static_cast<int>(c.shape) << " " << static_cast<int>(c.selection));
        const std::vector<CornerTarget> targets = cornerTargets(c.selection, BubbleSize::medium, c.shape, kCanvas);
        ASSERT_EQ(targets.size(), c.targets.size());
        for (size_t i = 0; i < targets.size(); ++i) {
            EXPECT_EQ(targets[i].corner, c.targets[i]);
            EXPECT_EQ(targets[i].selected, targets[i].corner == c.lit);
            EXPECT_EQ(targets[i].help.toStdString(), c.help[i].toStdString());
        }
    }
}

TEST(CornerPickerLayoutTest, ACircleTakesClicksInsideItsDiscAndACutOutInItsFrame) {
    const std::vector<CornerTarget> circles =
        cornerTargets(BubbleCorner::topLeading, BubbleSize::large, BubbleShape::circle, kCanvas);
    const std::vector<CornerTarget> cutouts =
        cornerTargets(BubbleCorner::topLeading, BubbleSize::large, BubbleShape::cutout, kCanvas);
    const struct {
        const char* name;
        const std::vector<CornerTarget>& targets;
        BubbleShape shape;
        QPointF pos;
        std::optional<BubbleCorner> hit;
    } cases[] = {
        {"circle centre", circles, BubbleShape::circle, {19, 19}, BubbleCorner::topLeading},
        {"circle's box corner, outside the disc", circles, BubbleShape::circle, {4, 4}, std::nullopt},
        {"between the left circles", circles, BubbleShape::circle, {19, 42}, std::nullopt},
        {"bottom right circle", circles, BubbleShape::circle, {113, 65}, BubbleCorner::bottomTrailing},
        {"cut-out frame's top corner", cutouts, BubbleShape::cutout, {3, 35}, BubbleCorner::bottomLeading},
        {"right cut-out", cutouts, BubbleShape::cutout, {110, 80}, BubbleCorner::bottomTrailing},
        {"the empty middle", cutouts, BubbleShape::cutout, {66, 70}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CornerTarget* target = targetAt(c.targets, c.shape, c.pos);
        EXPECT_EQ(target ? std::optional(target->corner) : std::nullopt, c.hit);
    }
    // Two large circles on one side leave a gap between them.
    EXPECT_FALSE(circles[0].rect.intersects(circles[2].rect));
}

}  // namespace
}  // namespace lumenhollow
