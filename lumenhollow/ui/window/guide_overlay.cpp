#include "lumenhollow/ui/window/guide_overlay.h"

#include <QPainter>

#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow {

namespace {

constexpr double kGuideHorizonFrom = 0.3;
constexpr double kGuideHorizonTo = 0.7;
constexpr double kGuideRingDiameter = 6;

}  // namespace

std::optional<QRectF> verticalFrame(QSizeF size) {
    const double w = size.width();
    const double h = size.height();
    if (!(w > h) || !(h > 0)) return std::nullopt;
    const double f = h * 9 * 0.0625;
    return QRectF((w - f) * 0.5, 0, f, h);
}

GuidePaths guidePaths(const std::set<GuideKind>& guides, QSizeF size) {
    GuidePaths paths;
    const double w = size.width();
    const double h = size.height();
    if (!(w > 0 && h > 0)) return paths;
    if (guides.contains(GuideKind::grid)) {
        for (const double third : {1.0 / 3, 2.0 / 3}) {
            paths.grid.moveTo(w * third, 0);
            paths.grid.lineTo(w * third, h);
            paths.grid.moveTo(0, h * third);
            paths.grid.lineTo(w, h * third);
        }
    }
    if (guides.contains(GuideKind::horizon)) {
        paths.horizon.moveTo(w * kGuideHorizonFrom, h * 0.5);
        paths.horizon.lineTo(w * kGuideHorizonTo, h * 0.5);
        const double r = kGuideRingDiameter / 2;
        paths.horizon.addEllipse(QRectF(w * 0.5 - r, h * 0.5 - r, kGuideRingDiameter, kGuideRingDiameter));
    }
    if (guides.contains(GuideKind::vertical)) {
        if (const std::optional<QRectF> column = verticalFrame(size)) {
            paths.darkening.setFillRule(Qt::OddEvenFill);
            paths.darkening.addRect(QRectF(0, 0, w, h));
            paths.darkening.addRect(*column);
            paths.column.addRect(*column);
            paths.beside = {QRectF(0, 0, column->left(), h), QRectF(column->right(), 0, w - column->right(), h)};
        }
    }
    return paths;
}

GuideOverlay::GuideOverlay(QWidget* parent)
    : QWidget(parent),
      gridPen_(ui::withOpacity(QColor(Qt::white), 0.45), 1.0),
      horizonPen_(ui::withOpacity(ui::warningYellowColor(), 0.8), 1.5),
      columnPen_(ui::withOpacity(QColor(Qt::white), 0.7), 1.0),
      darkeningBrush_(ui::withOpacity(QColor(Qt::black), 0.45)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

void GuideOverlay::setGuides(std::set<GuideKind> guides) {
    if (guides == guides_) return;
    guides_ = std::move(guides);
    rebuild();
}

void GuideOverlay::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    rebuild();
}

void GuideOverlay::rebuild() {
    paths_ = guidePaths(guides_, size());
    update();
}

void GuideOverlay::paintEvent(QPaintEvent*) {
    if (guides_.empty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    if (!paths_.grid.isEmpty()) {
        painter.setPen(gridPen_);
        painter.drawPath(paths_.grid);
    }
    if (!paths_.horizon.isEmpty()) {
        painter.setPen(horizonPen_);
        painter.drawPath(paths_.horizon);
    }
    // The darkening lies over the grid and the horizon, the outline over it.
    if (!paths_.darkening.isEmpty()) {
        for (const QRectF& band : paths_.beside) painter.fillRect(band, darkeningBrush_);
        painter.setPen(columnPen_);
        painter.drawPath(paths_.column);
    }
}

}  // namespace lumenhollow
