#include "lumenhollow/ui/island/island_collapsed.h"

#include <QFontMetricsF>
#include <QPainter>

#include "lumenhollow/ui/island/island_glyphs.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow::ui {
namespace {

constexpr double kStripPx = 11.5;
constexpr double kStripSymbolPx = 11;
constexpr double kStripGap = 5;
constexpr double kStripDot = 6;
const QColor kStripGrey(0x8e, 0x8e, 0x93);

}  // namespace

IslandCollapsedStrip::IslandCollapsedStrip() : font_(uiFont(kStripPx, QFont::DemiBold)) {}

bool IslandCollapsedStrip::set(const IslandContentInputs& in, const std::optional<QString>& elapsed) {
    Shown next;
    next.left = islandLeftSlot(in);
    next.live = in.live;
    next.connectionSymbol = islandConnectionSymbol(in.connection);
    next.battery = in.battery;
    if (next.left == IslandLeftSlot::recording && elapsed) next.elapsed = *elapsed;
    if (shown_ == next) return false;
    shown_ = next;
    left_ = next.left;
    live_ = in.live;
    connectionSymbol_ = islandConnectionSymbol(in.connection);
    if (in.battery) {
        if (!battery_) battery_.emplace();
        battery_->set(in.battery->percent, in.battery->isCharging);
    } else {
        battery_.reset();
    }
    elapsed_ = next.elapsed.isEmpty() ? TabularLine{} : layoutTabular(QFontMetricsF(font_), next.elapsed);
    return true;
}

QRectF IslandCollapsedStrip::leftSlotRect(const QRectF& island) {
    return {island.left() + kPadding, island.top(), kSlotWidth, island.height()};
}

QRectF IslandCollapsedStrip::rightSlotRect(const QRectF& island) {
    return {island.right() - kPadding - kSlotWidth, island.top(), kSlotWidth, island.height()};
}

void IslandCollapsedStrip::paint(QPainter& painter, const QRectF& island, double dotOpacity) const {
    const QRectF left = leftSlotRect(island);
    const QRectF right = rightSlotRect(island);
    const double mid = island.center().y();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    switch (left_) {
        case IslandLeftSlot::recording: {
            const double width = PulsingDot::kDiameter + kStripGap + elapsed_.width;
            const double x = left.center().x() - width / 2;
            PulsingDot::paint(painter, QPointF(x + PulsingDot::kDiameter / 2, mid), appAccentColor(), dotOpacity);
            painter.setFont(font_);
            painter.setPen(Qt::white);
            drawTabular(painter, QPointF(x + PulsingDot::kDiameter + kStripGap, centredBaseline(QFontMetricsF(font_), mid)),
                        elapsed_);
            break;
        }
        case IslandLeftSlot::tracking:
            Symbols::instance().draw(painter, left, "person.fill.viewfinder", kStripPx + 2, appAccentColor());
            break;
        case IslandLeftSlot::status: {
            const double symbol = kStripSymbolPx + 4;
            const double x = left.center().x() - (kStripDot + kStripGap + symbol) / 2;
            painter.setPen(Qt::NoPen);
            painter.setBrush(live_ ? kIslandGreen : kStripGrey);
            painter.drawEllipse(QPointF(x + kStripDot / 2, mid), kStripDot / 2, kStripDot / 2);
            Symbols::instance().draw(painter, QRectF(x + kStripDot + kStripGap, left.top(), symbol, left.height()),
                                     "video.fill", kStripSymbolPx, Qt::white);
            break;
        }
    }
    if (battery_) {
        battery_->paint(painter, right.center().x() - battery_->size().width() / 2, mid);
    } else {
        Symbols::instance().draw(painter, right, connectionSymbol_, kStripSymbolPx, kIslandSecondary);
    }
    painter.restore();
}

}  // namespace lumenhollow::ui
