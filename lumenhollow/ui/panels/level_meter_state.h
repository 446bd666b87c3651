#pragma once

// What the sound level meter shows: how many of its segments are lit for a
// level in dBFS, and each segment's colour, which is fixed by its position
// (the loud end is red however loud the sound is now). Pure values, any
// thread.

#include <optional>

namespace lumenhollow {

// The meter's range: this level and below light nothing, full scale lights all.
inline constexpr double kMeterFloorDb = -50.0;

enum class SegmentTone { unlit, green, yellow, red };

// 0 for no level or one that is not a number; `segments` times the level's
// place between the floor and full scale, clamped to 0...1, rounded half away
// from zero. A negative count is treated as none.
int litSegments(std::optional<float> level, int segments);

// The tone of segment `index` with `lit` segments lit.
SegmentTone segmentTone(int index, int segments, int lit);

}  // namespace lumenhollow
