#include "lumenhollow/ui/island/island_shape.h"

#include <algorithm>

namespace lumenhollow::ui {

double IslandShape::effectiveRadius(const QRectF& rect) const {
    if (roundTop) return std::max(0.0, std::min(rect.height() * 0.5, bottomRadius));
    const double r = std::min((rect.width() - 2 * shoulder) * 0.5, std::min((rect.height() - shoulder) * 0.5, bottomRadius));
    return std::max(0.0, r);
}

QPainterPath IslandShape::path(const QRectF& rect) const {
    QPainterPath outline;
    const double r = effectiveRadius(rect);
    if (roundTop) {
        outline.addRoundedRect(rect, r, r);
        return outline;
    }
    const double s = shoulder;
    const double left = rect.left();
    const double top = rect.top();
    const double right = rect.right();
    const double bottom = rect.bottom();
    // Quadratic corners throughout: the shoulders curve from the screen edge
    // down into the walls, so the body reads as part of the notch.
    outline.moveTo(left, top);
    outline.quadTo(left + s, top, left + s, top + s);
    outline.lineTo(left + s, bottom - r);
    outline.quadTo(left + s, bottom, left + s + r, bottom);
    outline.lineTo(right - s - r, bottom);
    outline.quadTo(right - s, bottom, right - s, bottom - r);
    outline.lineTo(right - s, top + s);
    outline.quadTo(right - s, top, right, top);
    outline.closeSubpath();
    return outline;
}

IslandShape islandShape(bool hasNotch, bool expanded) {
    if (hasNotch) return expanded ? IslandShape{14, 30, false} : IslandShape{7, 11, false};
    return expanded ? IslandShape{0, 30, true} : IslandShape{0, 15, true};
}

IslandShape blendIslandShape(bool hasNotch, double progress) {
    const IslandShape from = islandShape(hasNotch, false);
    const IslandShape to = islandShape(hasNotch, true);
    IslandShape blended = from;
    blended.shoulder = from.shoulder + (to.shoulder - from.shoulder) * progress;
    blended.bottomRadius = from.bottomRadius + (to.bottomRadius - from.bottomRadius) * progress;
    return blended;
}

}  // namespace lumenhollow::ui
