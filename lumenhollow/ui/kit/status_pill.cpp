#include "lumenhollow/ui/kit/status_pill.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <cmath>

#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

namespace {

constexpr double kFontPx = 12;
constexpr double kSymbolGap = 4;

QFont figureFont() { return uiFont(kFontPx, QFont::Medium); }

}  // namespace

StatusPill::StatusPill(QWidget* parent) : GlassSurface(GlassShape::capsule, parent), font_(figureFont()) {
    setFixedHeight(PillBackground::kHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedWidth(sizeHint().width());
}

void StatusPill::setState(StatusPillState state) {
    if (state == state_) return;
    state_ = std::move(state);
    measure();
    setFixedWidth(sizeHint().width());
    update();
}

void StatusPill::measure() {
    const QFontMetricsF metrics(font_);
    texts_.clear();
    rects_.clear();
    std::vector<double> widths;
    double x = kStatusPillInset;
    for (const StatusFigure& figure : state_.figures) {
        texts_.push_back(layoutTabular(metrics, QString::fromStdString(figure.text)));
        const double width = kFontPx + kSymbolGap + texts_.back().width;
        rects_.emplace_back(x, 0, width, PillBackground::kHeight);
        widths.push_back(width);
        x += width + kStatusPillSpacing;
    }
    width_ = statusPillWidth(widths);
}

QSize StatusPill::sizeHint() const { return {static_cast<int>(std::ceil(width_)), PillBackground::kHeight}; }

QString StatusPill::tooltipAt(const QPoint& pos) const {
    const std::vector<QRectF>& rects = rects_;
    for (size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].contains(pos)) return QString::fromStdString(state_.figures[i].tooltip);
    }
    return {};
}

bool StatusPill::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = tooltipAt(help->pos());
        if (tip.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), tip, this);
        }
        return true;
    }
    return GlassSurface::event(event);
}

void StatusPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintSurface(painter);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF metrics(font_);
    const double mid = height() / 2.0;
    const std::vector<QRectF>& rects = rects_;
    for (size_t i = 0; i < rects.size(); ++i) {
        const StatusFigure& figure = state_.figures[i];
        Symbols::instance().draw(painter, QRectF(rects[i].left(), mid - kFontPx / 2, kFontPx, kFontPx), figure.symbol,
                                 kFontPx, Qt::white);
        painter.setFont(font_);
        painter.setPen(Qt::white);
        drawTabular(painter, QPointF(rects[i].left() + kFontPx + kSymbolGap, centredBaseline(metrics, mid)),
                    texts_[i]);
    }
}

}  // namespace lumenhollow::ui
