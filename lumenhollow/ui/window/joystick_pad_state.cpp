#include "lumenhollow/ui/window/joystick_pad_state.h"

#include <algorithm>
#include <cmath>

namespace lumenhollow {

namespace {

// The arrows sit this far inside the rim; the knob stops this far short of it.
constexpr double kPadArrowInset = 14;
constexpr double kPadKnobRimGap = 4;

}  // namespace

PadMetrics padMetrics(double diameter, double knob) {
    return PadMetrics{diameter, knob, diameter / 2 - kPadArrowInset, (diameter - knob) / 2 - kPadKnobRimGap};
}

std::array<PadArrow, 4> padArrows(const PadMetrics& metrics) {
    const double r = metrics.arrowRadius;
    return {{
        {"chevron.up", GimbalDirection::up, {0, -r}},
        {"chevron.down", GimbalDirection::down, {0, r}},
        {"chevron.left", GimbalDirection::left, {-r, 0}},
        {"chevron.right", GimbalDirection::right, {r, 0}},
    }};
}

PadHit padHit(const PadMetrics& metrics, PadPoint at, PadPoint knobOffset) {
    const double dx = at.x - knobOffset.x;
    const double dy = at.y - knobOffset.y;
    const double knobRadius = metrics.knob / 2;
    if (dx * dx + dy * dy <= knobRadius * knobRadius) return {PadTarget::knob, GimbalDirection::up};
    // The whole square of each arrow takes the press, not just its glyph.
    const double half = kPadArrowBox / 2;
    for (const PadArrow& arrow : padArrows(metrics)) {
        if (std::abs(at.x - arrow.centre.x) <= half && std::abs(at.y - arrow.centre.y) <= half) {
            return {PadTarget::arrow, arrow.direction};
        }
    }
    return {};
}

bool knobDragBegins(PadPoint translation) {
    return std::hypot(translation.x, translation.y) >= kPadKnobDragStart;
}

PadPoint knobOffsetFor(const PadMetrics& metrics, PadPoint translation) {
    if (!std::isfinite(translation.x) || !std::isfinite(translation.y)) return {};
    const double distance = std::hypot(translation.x, translation.y);
    // max(d, 1): a translation shorter than a point is taken as it is.
    const double scale = std::min(1.0, metrics.knobTravel / std::max(distance, 1.0));
    return {translation.x * scale, translation.y * scale};
}

KnobDeflection knobDeflection(const PadMetrics& metrics, PadPoint offset) {
    if (!(metrics.knobTravel > 0)) return {};
    // Screen y grows downward; the gimbal's up is positive.
    return {offset.x / metrics.knobTravel, -offset.y / metrics.knobTravel};
}

}  // namespace lumenhollow
