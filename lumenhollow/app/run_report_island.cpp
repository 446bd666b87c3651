#include <QPoint>
#include <QRect>
#include <QWidget>

#include "lumenhollow/app/run_report.h"
#include "lumenhollow/ui/island/island_expanded_view.h"
#include "lumenhollow/ui/island/island_preview.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/island/notch_view.h"
#include "lumenhollow/ui/island/record_button.h"

namespace lumenhollow {
namespace {

ReportRect reportRect(const QRect& rect) {
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

// A shown widget's rectangle on the screen; nothing while it is hidden.
std::optional<ReportRect> shownRect(const QWidget& widget) {
    if (!widget.isVisible()) return std::nullopt;
    return reportRect(QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size()));
}

// Where the island and its open parts are.
std::optional<IslandPlaces> islandPlaces(const ui::NotchPanelController& island) {
    if (!island.isShown()) return std::nullopt;
    IslandPlaces places;
    places.island = reportRect(island.islandRect());
    const ui::IslandExpandedView& open = island.view().expandedView();
    if (island.state().expanded && open.isVisible()) {
        places.picture = shownRect(open.preview());
        places.record = shownRect(open.recordButton());
        if (const QWidget* chip = open.control(ui::IslandControl::sceneChip, 0)) places.firstSceneChip = shownRect(*chip);
        if (const QWidget* button = open.control(ui::IslandControl::mainWindow)) places.windowButton = shownRect(*button);
    }
    return places;
}

}  // namespace

void addIslandSources(RunReportSources& sources, const ui::NotchPanelController* island) {
    if (!island) return;
    sources.islandOpen = [island]() -> std::optional<bool> { return island->state().expanded; };
    sources.islandPlaces = [island] { return islandPlaces(*island); };
}

}  // namespace lumenhollow
