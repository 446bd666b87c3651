#include "hollowkit/recording/bubble_geometry.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

using C = BubbleCorner;
using S = BubbleSize;
using Sh = BubbleShape;

TEST(BubbleGeometryTest, WorkedRectangles) {
    struct Case {
        C corner;
        S size;
        Sh shape;
        double width;
        double height;
        BubbleRect expected;
    };
    const Case cases[] = {
        {C::bottomTrailing, S::medium, Sh::circle, 1920, 1080, {1575, 43, 302, 302}},
        {C::topTrailing, S::small, Sh::circle, 1920, 1080, {1661, 821, 216, 216}},
        {C::topLeading, S::large, Sh::cutout, 1920, 1080, {22, 0, 648, 648}},
        {C::bottomLeading, S::large, Sh::circle, 3840, 2160, {86, 86, 821, 821}},
        // A cut-out stands on the bottom edge whatever the corner's row.
        {C::topTrailing, S::medium, Sh::cutout, 1920, 1080, {1920 - 22 - 497, 0, 497, 497}},
        {C::bottomTrailing, S::medium, Sh::cutout, 1920, 1080, {1920 - 22 - 497, 0, 497, 497}},
        // Tiny canvases: the margin rounds to nothing and the bubble touches
        // the edges; a narrow canvas puts a trailing bubble at negative x.
        {C::topLeading, S::small, Sh::circle, 100, 10, {0, 8, 2, 2}},
        {C::bottomTrailing, S::large, Sh::circle, 20, 100, {20 - 4 - 38, 4, 38, 38}},
    };
    for (const Case& c : cases) {
        const BubbleStyle style(c.corner, c.size, c.shape, BubbleBackground::keep);
        EXPECT_EQ(bubbleRect(style, c.width, c.height), c.expected)
            << toString(c.corner) << " " << toString(c.size) << " " << toString(c.shape) << " "
            << c.width << "x" << c.height;
    }
}

// Halves round away from zero: 0.28 x 1125 = 315.0, 0.2 x 1037.5 = 207.5.
TEST(BubbleGeometryTest, HalvesRoundAwayFromZero) {
    const BubbleStyle small(C::bottomLeading, S::small, Sh::circle, BubbleBackground::keep);
    EXPECT_EQ(bubbleRect(small, 2000, 1037.5).width, 208);
    const BubbleStyle cutout(C::bottomLeading, S::small, Sh::cutout, BubbleBackground::keep);
    EXPECT_EQ(bubbleRect(cutout, 2000, 75).x, 2);  // 0.02 x 75 = 1.5
}

}  // namespace
}  // namespace hollowkit
