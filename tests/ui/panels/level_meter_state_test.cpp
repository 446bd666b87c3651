#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "lumenhollow/ui/panels/level_meter_state.h"

namespace lumenhollow {
namespace {

TEST(LevelMeterStateTest, TheLevelLightsItsShareOfTheRow) {
    struct Case {
        const char* name;
        std::optional<float> level;
        int segments;
        int lit;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<Case> cases{
        {"no level", std::nullopt, 12, 0},
        {"the floor", -50.0F, 12, 0},
        {"below the floor", -80.0F, 12, 0},
        {"silence", -inf, 12, 0},
        {"half way", -25.0F, 12, 6},
        // The first segment lights once 12 r reaches one half: -47.9166... dBFS.
        {"just under the first segment", -47.93F, 12, 0},
        {"just over the first segment", -47.91F, 12, 1},
        // The last one once 12 r reaches 11.5: -2.0833... dBFS.
        {"just under the last segment", -2.09F, 12, 11},
        {"just over the last segment", -2.07F, 12, 12},
        {"full scale", 0.0F, 12, 12},
        {"over full scale", 6.0F, 12, 12},
        {"loud beyond measure", inf, 12, 12},
        {"not a number", nan, 12, 0},
        {"no segments", 0.0F, 0, 0},
        {"a negative count", 0.0F, -3, 0},
        {"another count", -10.0F, 5, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(litSegments(c.level, c.segments), c.lit);
    }
}

TEST(LevelMeterStateTest, ColoursBelongToPositionsNotToTheLevel) {
    // Every segment lit: green up to the eighth, yellow to the eleventh, red last.
    std::vector<SegmentTone> allLit;
    for (int i = 0; i < 12; ++i) allLit.push_back(segmentTone(i, 12, 12));
    const std::vector<SegmentTone> expected{
        SegmentTone::green,  SegmentTone::green,  SegmentTone::green,  SegmentTone::green,
        SegmentTone::green,  SegmentTone::green,  SegmentTone::green,  SegmentTone::green,
        SegmentTone::yellow, SegmentTone::yellow, SegmentTone::yellow, SegmentTone::red,
    };
    EXPECT_EQ(allLit, expected);

    struct Case {
        int index;
        int lit;
        SegmentTone tone;
    };
    const std::vector<Case> cases{
        {0, 0, SegmentTone::unlit},  {5, 6, SegmentTone::green},   {6, 6, SegmentTone::unlit},
        {8, 9, SegmentTone::yellow}, {11, 11, SegmentTone::unlit}, {11, 12, SegmentTone::red},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " of " << c.lit << " lit");
        EXPECT_EQ(segmentTone(c.index, 12, c.lit), c.tone);
    }
}

}  // namespace
}  // namespace lumenhollow
