#include "lumenhollow/ui/window/joystick_pad.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QVariantAnimation>
#include <cmath>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow {

namespace {

constexpr double kPadArrowPx = 11;
constexpr double kPadForegroundOpacity = 0.85;
constexpr double kPadShadowOpacity = 0.3;
constexpr double kPadShadowRadius = 3;
constexpr double kPadShadowDrop = 1;
// Room around the knob's picture for its shadow.
constexpr double kPadKnobMargin = kPadShadowRadius + kPadShadowDrop + 1;
constexpr ui::Spring kPadKnobReturn{0.25, 0.7};
constexpr const char* kPadTooltip = "Drag the knob or hold an arrow to move the gimbal (arrow keys work too)";

QPixmap transparentLayer(QSizeF size, qreal ratio) {
    QPixmap layer((size * ratio).toSize());
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    return layer;
}

}  // namespace

JoystickPad::JoystickPad(ModelSignals& model, QWidget* parent, int diameter, int knob)
    : QWidget(parent), input_(model.sharedModel()), metrics_(padMetrics(diameter, knob)) {
    setFixedSize(diameter, diameter);
    ui::setHelp(*this, QString::fromUtf8(kPadTooltip));
    setAttribute(Qt::WA_TranslucentBackground);
    // The arrow keys stay with the preview.
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

JoystickPad::~JoystickPad() {
    // A pad destroyed mid-gesture must not leave the gimbal turning.
    if (gesture_ != Gesture::none) endGesture(false);
}

std::optional<GimbalDirection> JoystickPad::heldArrow() const {
    if (gesture_ != Gesture::arrow) return std::nullopt;
    return arrow_;
}

QPointF JoystickPad::arrowCentre(GimbalDirection direction) const {
    for (const PadArrow& arrow : padArrows(metrics_)) {
        if (arrow.direction == direction) return rect().center() + QPointF(arrow.centre.x, arrow.centre.y);
    }
    return rect().center();
}

PadPoint JoystickPad::fromCentre(const QPointF& pos) const {
    return {pos.x() - metrics_.diameter / 2, pos.y() - metrics_.diameter / 2};
}

void JoystickPad::mousePressEvent(QMouseEvent* event) {
    // Every press is the pad's, so none reaches the picture below as a drag.
    event->accept();
    if (event->button() != Qt::LeftButton || gesture_ != Gesture::none) return;
    const PadHit hit = padHit(metrics_, fromCentre(event->position()), knobOffset_);
    switch (hit.target) {
        case PadTarget::knob:
            pressedAt_ = event->position();
            knobDragging_ = false;
            beginGesture(Gesture::knob);
            break;
        case PadTarget::arrow:
            // An arrow acts from the moment it goes down.
            arrow_ = hit.direction;
            beginGesture(Gesture::arrow);
            input_.directionButton(arrow_, true);
            break;
        case PadTarget::none: break;
    }
}

void JoystickPad::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (gesture_ == Gesture::arrow) {
        // Held on wherever the pointer goes; each move counts as manual input again.
        input_.directionButton(arrow_, true);
        return;
    }
    if (gesture_ != Gesture::knob) return;
    const QPointF moved = event->position() - pressedAt_;
    const PadPoint translation{moved.x(), moved.y()};
    if (!knobDragging_) {
        if (!knobDragBegins(translation)) return;
        knobDragging_ = true;
        // The hand takes the knob from a spring still running.
        stopSpring();
    }
    setKnobOffset(knobOffsetFor(metrics_, translation));
    const KnobDeflection deflection = knobDeflection(metrics_, knobOffset_);
    input_.knobMoved(deflection.x, deflection.y);
}

void JoystickPad::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && gesture_ != Gesture::none) endGesture(true);
}

void JoystickPad::hideEvent(QHideEvent* event) {
    if (gesture_ != Gesture::none) endGesture(false);
    QWidget::hideEvent(event);
}

void JoystickPad::changeEvent(QEvent* event) {
    // Neither a disabled pad nor an inactive window hears the release.
    const bool lost = (event->type() == QEvent::ActivationChange && !isActiveWindow()) ||
                      (event->type() == QEvent::EnabledChange && !isEnabled());
    if (lost && gesture_ != Gesture::none) endGesture(true);
    QWidget::changeEvent(event);
}

bool JoystickPad::eventFilter(QObject* watched, QEvent* event) {
    // A menu or dialog appearing mid-gesture takes the pointer, and the
    // release goes to it. Tooltips take nothing.
    if (event->type() == QEvent::Show && watched->isWidgetType() && gesture_ != Gesture::none) {
        const auto* shown = static_cast<QWidget*>(watched);
        if (shown->isWindow() && shown != window() && shown->windowType() != Qt::ToolTip) endGesture(true);
    }
    return false;
}

void JoystickPad::beginGesture(Gesture gesture) {
    gesture_ = gesture;
    // Watched only while a gesture runs.
    QCoreApplication::instance()->installEventFilter(this);
}

void JoystickPad::endGesture(bool animated) {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
    const Gesture ended = gesture_;
    gesture_ = Gesture::none;
    if (ended == Gesture::arrow) {
        input_.directionButton(arrow_, false);
        return;
    }
    if (ended != Gesture::knob || !knobDragging_) return;
    knobDragging_ = false;
    // The stop goes out at once; the knob's way back is only for the eye.
    input_.knobReleased();
    stopSpring();
    if (!animated) {
        setKnobOffset({});
        return;
    }
    const PadPoint from = knobOffset_;
    spring_ = ui::animate(this, kPadKnobReturn, [this, from](double progress) {
        setKnobOffset({from.x * (1 - progress), from.y * (1 - progress)});
    });
}

void JoystickPad::stopSpring() {
    // Deleted once stopped.
    if (spring_) spring_->stop();
}

void JoystickPad::setKnobOffset(PadPoint offset) {
    if (offset == knobOffset_) return;
    knobOffset_ = offset;
    update();
}

void JoystickPad::renderLayers(qreal devicePixelRatio) {
    layersRatio_ = devicePixelRatio;
    arrowsLayer_ = transparentLayer(size(), devicePixelRatio);
    {
        QPainter painter(&arrowsLayer_);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor color = ui::withOpacity(QColor(Qt::white), kPadForegroundOpacity);
        for (const PadArrow& arrow : padArrows(metrics_)) {
            const QPointF centre = rect().center() + QPointF(arrow.centre.x, arrow.centre.y);
            const QRectF box(centre.x() - kPadArrowBox / 2, centre.y() - kPadArrowBox / 2, kPadArrowBox,
                             kPadArrowBox);
            ui::Symbols::instance().draw(painter, box, arrow.symbol, kPadArrowPx, color);
        }
    }

    const double side = metrics_.knob + 2 * kPadKnobMargin;
    knobLayer_ = transparentLayer(QSizeF(side, side), devicePixelRatio);
    QPainter painter(&knobLayer_);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double radius = metrics_.knob / 2;
    const QPointF centre(side / 2, side / 2);
    // A soft shadow: full strength inside the knob's edge, fading over the
    // shadow's radius beyond it.
    const QPointF shadowCentre = centre + QPointF(0, kPadShadowDrop);
    const double outer = radius + kPadShadowRadius;
    QRadialGradient shadow(shadowCentre, outer);
    const QColor dark = ui::withOpacity(QColor(Qt::black), kPadShadowOpacity);
    shadow.setColorAt(0, dark);
    shadow.setColorAt((radius - kPadShadowRadius) / outer, dark);
    shadow.setColorAt(1, ui::withOpacity(QColor(Qt::black), 0));
    painter.setBrush(shadow);
    painter.drawEllipse(shadowCentre, outer, outer);
    painter.setBrush(ui::withOpacity(QColor(Qt::white), kPadForegroundOpacity));
    painter.drawEllipse(centre, radius, radius);
}

void JoystickPad::paintEvent(QPaintEvent*) {
    if (devicePixelRatioF() != layersRatio_) renderLayers(devicePixelRatioF());
    QPainter painter(this);
    glass_.paint(painter, *this, ui::GlassShape::circle, rect(), std::nullopt);
    painter.drawPixmap(QPointF(0, 0), arrowsLayer_);
    const double corner = metrics_.diameter / 2 - metrics_.knob / 2 - kPadKnobMargin;
    painter.drawPixmap(QPointF(corner + knobOffset_.x, corner + knobOffset_.y), knobLayer_);
    glass_.paintEdge(painter, ui::GlassShape::circle, rect());
}

}  // namespace lumenhollow
