#include "lumenhollow/ui/island/island_look.h"

#include <algorithm>

#include "lumenhollow/ui/kit/motion.h"

namespace lumenhollow::ui {

IslandLook islandLook(const NotchGeometry& geometry, QSize collapsed, QSize expanded, IslandProgress progress) {
    const double p = progress.size;
    const double width = collapsed.width() + (expanded.width() - collapsed.width()) * p;
    const double height = collapsed.height() + (expanded.height() - collapsed.height()) * p;
    const double panelWidth = NotchSizes::panel.width();
    IslandLook look;
    look.island = QRectF((panelWidth - width) / 2, 0, width, height);
    look.shape = blendIslandShape(geometry.hasNotch, p);
    look.shadowOpacity = IslandShadow::expandedOpacity * std::clamp(p, 0.0, 1.0);
    look.collapsedOpacity = std::clamp(progress.collapsedContent, 0.0, 1.0);
    const double reveal = std::clamp(progress.expandedContent, 0.0, 1.0);
    look.expandedOpacity = reveal;
    look.expandedScale =
        IslandContentTiming::expandedFromScale + (1 - IslandContentTiming::expandedFromScale) * reveal;
    look.titleWidth = islandTitleWidth(geometry, expanded.width());
    return look;
}

double expandedRevealAt(double seconds) {
    const double since = seconds - IslandContentTiming::expandedDelay;
    if (since <= 0) return 0;
    return motionProgress(Ease{Ease::Kind::out, IslandContentTiming::expandedFade}, since);
}

}  // namespace lumenhollow::ui
