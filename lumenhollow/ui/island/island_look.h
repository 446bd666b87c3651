#pragma once

// What the island view draws at one moment: the outline's frame and
// parameters, the shadow, and how far each of the two contents shows. A
// plain function of the geometry, the two sizes and the animations'
// progress, so the drawing decides nothing itself. Any thread.

#include <QRectF>
#include <QSize>

#include "lumenhollow/ui/island/island_shape.h"
#include "lumenhollow/ui/island/notch_geometry.h"

namespace lumenhollow::ui {

struct IslandShadow {
    static constexpr double expandedOpacity = 0.45;
    static constexpr double radius = 18;
    static constexpr double offsetY = 8;
};

// Where the animations stand: 0 is the collapsed end, 1 the expanded one.
struct IslandProgress {
    double size = 0;                // the spring of the outline (may pass 0 or 1)
    double collapsedContent = 1;    // the collapsed content's opacity
    double expandedContent = 0;     // the expanded content's reveal
    bool operator==(const IslandProgress&) const = default;

    static IslandProgress at(bool expanded) { return expanded ? IslandProgress{1, 0, 1} : IslandProgress{0, 1, 0}; }
};

struct IslandLook {
    QRectF island;  // in the panel's coordinates
    IslandShape shape;
    double shadowOpacity = 0;
    double collapsedOpacity = 1;
    double expandedOpacity = 0;
    double expandedScale = 1;  // about the island's top centre
    int titleWidth = 0;
    bool operator==(const IslandLook&) const = default;
};

IslandLook islandLook(const NotchGeometry& geometry, QSize collapsed, QSize expanded, IslandProgress progress);

// The content transitions: the collapsed content fades over 0.12 s; the
// expanded content waits 0.08 s, then fades and grows from 0.96 over 0.2 s.
struct IslandContentTiming {
    static constexpr double collapsedFade = 0.12;
    static constexpr double expandedDelay = 0.08;
    static constexpr double expandedFade = 0.2;
    static constexpr double expandedFromScale = 0.96;
};

// The expanded content's reveal (0...1, eased out) `seconds` into its transition.
double expandedRevealAt(double seconds);

}  // namespace lumenhollow::ui
