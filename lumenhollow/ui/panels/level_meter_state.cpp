#include "lumenhollow/ui/panels/level_meter_state.h"

#include <algorithm>
#include <cmath>

namespace lumenhollow {

namespace {

// Beyond these shares of the row a lit segment warns: yellow, then red.
constexpr double kMeterYellowFrom = 0.65;
constexpr double kMeterRedFrom = 0.85;

}  // namespace

int litSegments(std::optional<float> level, int segments) {
    if (!level || std::isnan(*level) || segments <= 0) return 0;
    const double ratio = std::clamp((static_cast<double>(*level) - kMeterFloorDb) / -kMeterFloorDb, 0.0, 1.0);
    // std::round rounds halves away from zero.
    return static_cast<int>(std::round(segments * ratio));
}

SegmentTone segmentTone(int index, int segments, int lit) {
    if (index >= lit || segments <= 0) return SegmentTone::unlit;
    const double share = static_cast<double>(index) / segments;
    if (share > kMeterRedFrom) return SegmentTone::red;
    if (share > kMeterYellowFrom) return SegmentTone::yellow;
    return SegmentTone::green;
}

}  // namespace lumenhollow
