#include "lumenhollow/ui/island/zoom_stepper.h"

#include <QFontMetricsF>
#include <QPainter>

#include "lumenhollow/ui/island/island_button.h"

namespace lumenhollow::ui {
namespace {

constexpr int kStepperInset = 4;
constexpr int kStepperHalfWidth = 22;
constexpr int kStepperGap = 2;
constexpr int kStepperLabelWidth = 32;
constexpr int kStepperHeight = 30;

IslandButton::Face stepperFace(const char* symbol) {
    IslandButton::Face face;
    face.symbol = symbol;
    face.size = QSize(kStepperHalfWidth, kStepperHeight);
    face.symbolPx = 11;
    face.fillOpacity = 0;
    return face;
}

}  // namespace

ZoomStepper::ZoomStepper(QWidget* parent)
    : QWidget(parent),
      minus_(new IslandButton(stepperFace("minus"), this)),
      plus_(new IslandButton(stepperFace("plus"), this)),
      font_(uiFont(11, QFont::DemiBold)) {
    setFixedSize(2 * kStepperInset + 2 * kStepperHalfWidth + 2 * kStepperGap + kStepperLabelWidth, kStepperHeight);
    minus_->move(kStepperInset, 0);
    plus_->move(width() - kStepperInset - kStepperHalfWidth, 0);
    minus_->setAccessibleName(QStringLiteral("Zoom out"));
    plus_->setAccessibleName(QStringLiteral("Zoom in"));
    connect(minus_, &QAbstractButton::clicked, this, [this] { Q_EMIT stepped(-1); });
    connect(plus_, &QAbstractButton::clicked, this, [this] { Q_EMIT stepped(1); });
    setLabel(QStringLiteral("1.0x"));
}

void ZoomStepper::setLabel(const QString& label) {
    if (label == label_) return;
    label_ = label;
    line_ = layoutTabular(QFontMetricsF(font_), label_);
    update();
}

void ZoomStepper::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.10f));
    painter.drawRoundedRect(QRectF(rect()), height() / 2.0, height() / 2.0);
    painter.setFont(font_);
    painter.setPen(Qt::white);
    const double left = width() / 2.0 - line_.width / 2;
    drawTabular(painter, QPointF(left, centredBaseline(QFontMetricsF(font_), height() / 2.0)), line_);
}

}  // namespace lumenhollow::ui
