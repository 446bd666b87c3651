#include "lumenhollow/ui/kit/spinner.h"

#include <QPainter>
#include <QVariantAnimation>
#include <cmath>

#include "lumenhollow/ui/kit/motion.h"

namespace lumenhollow::ui {

namespace {
constexpr int kSpokes = 12;
}

Spinner::Spinner(Size size, QWidget* parent) : QWidget(parent) {
    const int side = size == Size::large ? 32 : 12;
    setFixedSize(side, side);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Spinner::setColor(const QColor& color) {
    color_ = color;
    update();
}

void Spinner::showEvent(QShowEvent*) {
    if (turning_) return;
    turning_ = loop(this, std::chrono::milliseconds(1000), [this](double phase) {
        // Step by whole spokes, as the system spinner does; the picture only
        // changes with the step, so a tick within one costs no repaint.
        const double stepped = std::floor(phase * kSpokes) / kSpokes;
        if (stepped == phase_) return;
        phase_ = stepped;
        update();
    });
}

void Spinner::hideEvent(QHideEvent*) {
    if (turning_) {
        turning_->stop();
        turning_->deleteLater();
        turning_ = nullptr;
    }
}

void Spinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = width();
    const double outer = side / 2;
    const double inner = outer * 0.45;
    const double thick = std::max(1.0, side * 0.09);
    painter.translate(side / 2, side / 2);
    const int lead = static_cast<int>(std::lround(phase_ * kSpokes)) % kSpokes;
    for (int i = 0; i < kSpokes; ++i) {
        // Spokes behind the leading one fade out.
        const int behind = (lead - i + kSpokes) % kSpokes;
        QColor color = color_;
        color.setAlphaF(color_.alphaF() * static_cast<float>(1.0 - 0.75 * behind / (kSpokes - 1)));
        painter.setPen(QPen(color, thick, Qt::SolidLine, Qt::RoundCap));
        const double angle = 2 * M_PI * i / kSpokes - M_PI / 2;
        painter.drawLine(QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
                         QPointF(std::cos(angle) * (outer - thick / 2), std::sin(angle) * (outer - thick / 2)));
    }
}

}  // namespace lumenhollow::ui
