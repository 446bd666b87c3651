#include "hollowkit/media/bubble_style.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace hollowkit {
namespace {

template <typename Enum, size_t N, typename Parse>
void expectRoundTrip(const std::array<Enum, N>& cases, Parse parse) {
    std::set<std::string> seen;
    for (Enum value : cases) {
        const std::string_view text = toString(value);
        EXPECT_FALSE(text.empty());
        EXPECT_TRUE(seen.insert(std::string(text)).second) << "duplicate " << text;
        EXPECT_EQ(parse(text), value) << text;
    }
}

TEST(BubbleStyleTest, EveryCaseRoundTripsThroughItsStoredString) {
    expectRoundTrip(kAllBubbleCorners, parseBubbleCorner);
    expectRoundTrip(kAllBubbleSizes, parseBubbleSize);
    expectRoundTrip(kAllBubbleShapes, parseBubbleShape);
    expectRoundTrip(kAllBubbleBackgrounds, parseBubbleBackground);
}

TEST(BubbleStyleTest, StoredStringsAreTheSettingsValues) {
    EXPECT_EQ(parseBubbleCorner("Top Left"), BubbleCorner::topLeading);
    EXPECT_EQ(parseBubbleCorner("Bottom Right"), BubbleCorner::bottomTrailing);
    EXPECT_EQ(parseBubbleSize("Medium"), BubbleSize::medium);
    EXPECT_EQ(parseBubbleShape("Cutout"), BubbleShape::cutout);
    // The kept background is stored as "Normal", not after its case name.
    EXPECT_EQ(toString(BubbleBackground::keep), "Normal");
    EXPECT_EQ(parseBubbleBackground("Normal"), BubbleBackground::keep);
    EXPECT_EQ(parseBubbleBackground("Keep"), std::nullopt);
}

TEST(BubbleStyleTest, ParsingIsExactAndCaseSensitive) {
    for (const char* text : {"top left", "TopLeft", "", " Top Left", "Top Left ", "Top  Left"}) {
        EXPECT_EQ(parseBubbleCorner(text), std::nullopt) << '"' << text << '"';
    }
    EXPECT_EQ(parseBubbleSize("small"), std::nullopt);
    EXPECT_EQ(parseBubbleShape("circle"), std::nullopt);
    EXPECT_EQ(parseBubbleBackground("blur"), std::nullopt);
    EXPECT_EQ(parseBubbleBackground("Small"), std::nullopt);  // another enumeration's string
}

TEST(BubbleStyleTest, SegmentationIsNeededForCutoutsAndTreatedRooms) {
    struct Case {
        BubbleShape shape;
        BubbleBackground background;
        bool needed;
    };
    const Case cases[] = {
        {BubbleShape::circle, BubbleBackground::keep, false},
        {BubbleShape::circle, BubbleBackground::blur, true},
        {BubbleShape::circle, BubbleBackground::remove, true},
        {BubbleShape::cutout, BubbleBackground::keep, true},
        {BubbleShape::cutout, BubbleBackground::blur, true},
        {BubbleShape::cutout, BubbleBackground::remove, true},
    };
    for (const Case& c : cases) {
        for (BubbleCorner corner : kAllBubbleCorners) {
            for (BubbleSize size : kAllBubbleSizes) {
                const BubbleStyle style(corner, size, c.shape, c.background);
                EXPECT_EQ(style.needsSegmentation(), c.needed)
                    << toString(c.shape) << " " << toString(c.background);
            }
        }
    }
}

TEST(BubbleStyleTest, OnlyTheLeftCornersAreLeading) {
    EXPECT_TRUE(isLeading(BubbleCorner::topLeading));
    EXPECT_TRUE(isLeading(BubbleCorner::bottomLeading));
    EXPECT_FALSE(isLeading(BubbleCorner::topTrailing));
    EXPECT_FALSE(isLeading(BubbleCorner::bottomTrailing));
}

}  // namespace
}  // namespace hollowkit
