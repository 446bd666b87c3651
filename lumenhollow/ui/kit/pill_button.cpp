#include "lumenhollow/ui/kit/pill_button.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

PillButton::PillButton(std::string symbol, const QString& title, const QFont& titleFont, QWidget* parent)
    : QAbstractButton(parent),
      symbol_(std::move(symbol)),
      font_(titleFont),
      symbolPx_(QFontMetricsF(titleFont).height() * 0.8),
      titleWidth_(QFontMetricsF(titleFont).horizontalAdvance(title)) {
    setText(title);
    setAccessibleName(title);
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::ArrowCursor);
    setFixedSize(sizeHint());
    makePressable(*this, PressRole::button, [this] { click(); });
}

QSize PillButton::sizeHint() const {
    const double inset = PillBackground::kInset + kExtraInset;
    const double content = std::ceil(symbolPx_) + kSpacing + titleWidth_;
    return {static_cast<int>(std::ceil(content + 2 * inset)), PillBackground::kHeight};
}

bool PillButton::hitButton(const QPoint& pos) const {
    return glassPath(GlassShape::capsule, rect()).contains(pos);
}

void PillButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintGlass(painter, *this, GlassShape::capsule, rect(), std::nullopt);
    painter.setRenderHint(QPainter::Antialiasing);
    // Pressed, the face dims as a plain button's does.
    const QColor ink = isDown() ? QColor(255, 255, 255, 150) : QColor(Qt::white);
    const double mid = height() / 2.0;
    double x = PillBackground::kInset + kExtraInset;
    Symbols::instance().draw(painter, QRectF(x, mid - symbolPx_ / 2, std::ceil(symbolPx_), symbolPx_), symbol_,
                             symbolPx_, ink);
    x += std::ceil(symbolPx_) + kSpacing;
    painter.setFont(font_);
    painter.setPen(ink);
    painter.drawText(QPointF(x, centredBaseline(QFontMetricsF(font_), mid)), text());
    paintGlassEdge(painter, GlassShape::capsule, rect());
    paintFocusRing(painter, *this, GlassShape::capsule, rect());
}

}  // namespace lumenhollow::ui
