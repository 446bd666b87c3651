#pragma once

// The joystick pad's geometry and gestures as plain functions: where the
// arrows and the knob sit, which one a press lands on, when a knob drag
// begins, how far the knob follows the pointer and what deflection that
// sends. Lengths are in points, y grows downward; the pad's centre is the
// origin unless a function says otherwise.

#include <array>
#include <optional>

#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

struct PadPoint {
    double x = 0;
    double y = 0;

    bool operator==(const PadPoint&) const = default;
};

struct PadMetrics {
    double diameter = 0;
    double knob = 0;
    double arrowRadius = 0;  // each arrow's centre from the pad's centre
    double knobTravel = 0;   // the farthest the knob's centre moves

    bool operator==(const PadMetrics&) const = default;
};

// Side of an arrow's square hit box.
inline constexpr double kPadArrowBox = 26;
// The pointer moves this far from where it went down before the knob drags.
inline constexpr double kPadKnobDragStart = 10;

PadMetrics padMetrics(double diameter, double knob);

struct PadArrow {
    const char* symbol;
    GimbalDirection direction;
    PadPoint centre;  // from the pad's centre
};
// Up, down, left, right, in this order (the order they are drawn in).
std::array<PadArrow, 4> padArrows(const PadMetrics& metrics);

// What a press at `at` (from the pad's centre) lands on, with the knob
// displaced by `knobOffset`: the knob lies over the arrows.
enum class PadTarget { none, knob, arrow };
struct PadHit {
    PadTarget target = PadTarget::none;
    GimbalDirection direction = GimbalDirection::up;  // for an arrow

    bool operator==(const PadHit&) const = default;
};
PadHit padHit(const PadMetrics& metrics, PadPoint at, PadPoint knobOffset);

// True once the pointer's `translation` from where it went down starts a knob drag.
bool knobDragBegins(PadPoint translation);

// Where the knob sits for a drag's `translation`: with the pointer until
// the knob travel, then on that circle in the pointer's direction.
PadPoint knobOffsetFor(const PadMetrics& metrics, PadPoint translation);

// The deflection the model's joystick takes for a knob at `offset`: x to the
// right, y upward, each within -1...1.
struct KnobDeflection {
    double x = 0;
    double y = 0;

    bool operator==(const KnobDeflection&) const = default;
};
KnobDeflection knobDeflection(const PadMetrics& metrics, PadPoint offset);

}  // namespace lumenhollow
