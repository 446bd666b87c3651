#pragma once

// IslandShape: the island's black outline. Without a notch a rounded
// rectangle; with one, a body inset by `shoulder` whose top corners flare
// out to meet the screen edge beside the notch. The per-state parameters and
// their blend during the open and close animation are plain functions.
// Any thread.

#include <QPainterPath>
#include <QRectF>

namespace lumenhollow::ui {

struct IslandShape {
    double shoulder = 0;
    double bottomRadius = 0;
    bool roundTop = true;
    bool operator==(const IslandShape&) const = default;

    // The corner radius the outline really uses in `rect` (never negative).
    double effectiveRadius(const QRectF& rect) const;
    QPainterPath path(const QRectF& rect) const;
};

// The parameters of the island in one of its four states.
IslandShape islandShape(bool hasNotch, bool expanded);

// The animated pair (shoulder, radius) between the collapsed (progress 0)
// and expanded (progress 1) parameters; a spring may pass either end.
IslandShape blendIslandShape(bool hasNotch, double progress);

}  // namespace lumenhollow::ui
