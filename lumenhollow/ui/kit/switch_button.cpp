#include "lumenhollow/ui/kit/switch_button.h"

#include <QPainter>

#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow::ui {

namespace {
constexpr double kKnobInset = 2;
}  // namespace

SwitchButton::SwitchButton(const QColor& tint, QWidget* parent) : QAbstractButton(parent), tint_(tint) {
    setFixedSize(kWidth, kHeight);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::ArrowCursor);
}

void SwitchButton::setOn(bool on) {
    if (on_ == on) return;
    on_ = on;
    update();
}

void SwitchButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.45);
    const QRectF track(0, 0, width(), height());
    const double radius = track.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(on_ ? tint_ : withOpacity(Qt::white, 0.2));
    painter.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 2 * kKnobInset;
    const double x = on_ ? track.right() - kKnobInset - knob : kKnobInset;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, kKnobInset, knob, knob));
}

}  // namespace lumenhollow::ui
