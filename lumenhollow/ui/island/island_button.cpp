#include "lumenhollow/ui/island/island_button.h"

#include <QFontMetricsF>
#include <QPainter>

#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {
namespace {

constexpr double kButtonCapsuleGap = 4;

}  // namespace

IslandButton::IslandButton(Face face, QWidget* parent)
    : QAbstractButton(parent), face_(std::move(face)), textFont_(uiFont(face_.textPx, QFont::Bold)) {
    if (face_.capsule) textFont_ = uiFont(face_.textPx, QFont::DemiBold);
    setFixedSize(face_.size);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setText(face_.text);
}

void IslandButton::setSymbol(const std::string& symbol) {
    if (symbol == face_.symbol) return;
    face_.symbol = symbol;
    update();
}

void IslandButton::setTint(std::optional<QColor> tint) {
    if (tint == tint_) return;
    tint_ = tint;
    update();
}

bool IslandButton::hitButton(const QPoint& pos) const {
    if (face_.capsule || face_.fillOpacity <= 0) return rect().contains(pos);
    const QPointF d = QPointF(pos) - QRectF(rect()).center();
    const double r = std::min(width(), height()) / 2.0;
    return d.x() * d.x() + d.y() * d.y() <= r * r;
}

void IslandButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(kDisabledOpacity);
    const QRectF box = rect();
    const QColor ink = tint_.value_or(QColor(Qt::white));
    if (face_.fillOpacity > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromRgbF(1, 1, 1, static_cast<float>(face_.fillOpacity)));
        if (face_.capsule) {
            painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
        } else {
            const double d = std::min(box.width(), box.height());
            painter.drawEllipse(QRectF(box.center().x() - d / 2, box.center().y() - d / 2, d, d));
        }
    }
    if (face_.capsule) {
        // Symbol then text, centred together.
        const QFontMetricsF metrics(textFont_);
        const double textWidth = metrics.horizontalAdvance(face_.text);
        const double symbolWidth = face_.symbolPx + 2;
        const double left = box.center().x() - (symbolWidth + kButtonCapsuleGap + textWidth) / 2;
        Symbols::instance().draw(painter, QRectF(left, box.top(), symbolWidth, box.height()), face_.symbol,
                                 face_.symbolPx, ink);
        painter.setFont(textFont_);
        painter.setPen(ink);
        painter.drawText(QPointF(left + symbolWidth + kButtonCapsuleGap, centredBaseline(metrics, box.center().y())),
                         face_.text);
        return;
    }
    if (!face_.symbol.empty()) {
        Symbols::instance().draw(painter, box, face_.symbol, face_.symbolPx, ink);
    } else if (!face_.text.isEmpty()) {
        painter.setFont(textFont_);
        painter.setPen(ink);
        painter.drawText(box, Qt::AlignCenter, face_.text);
    }
}

}  // namespace lumenhollow::ui
