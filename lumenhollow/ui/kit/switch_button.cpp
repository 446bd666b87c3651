#include "lumenhollow/ui/kit/switch_button.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>

#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow::ui {

namespace {

constexpr double kKnobInset = 2;

// The switch as a screen reader finds it: a check box, checked while on,
// whose toggle and press are a click on it, so the owner decides as it does
// for a click and the state shown stays the owner's. A check box, not a
// checkable button: Qt 6.4's AT-SPI bridge passes a button on as a push
// button and drops its checkable state, so off it would read as a plain
// button; a check box is a two-state control whether on or off.
class SwitchAccessible final : public QAccessibleWidget {
public:
    explicit SwitchAccessible(SwitchButton* button) : QAccessibleWidget(button, QAccessible::CheckBox) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button()->isOn();
        return state;
    }
    QStringList actionNames() const override {
        QStringList names;
        if (button()->isEnabled()) names << toggleAction() << pressAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != toggleAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (button()->isEnabled()) button()->click();
    }
    QStringList keyBindingsForAction(const QString& action) const override {
        if (action == toggleAction() || action == pressAction()) return {QStringLiteral("Space")};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

private:
    SwitchButton* button() const { return static_cast<SwitchButton*>(widget()); }
};

QAccessibleInterface* switchAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("lumenhollow::ui::SwitchButton") && object && object->isWidgetType()) {
        return new SwitchAccessible(static_cast<SwitchButton*>(object));
    }
    return nullptr;
}

}  // namespace

SwitchButton::SwitchButton(const QColor& tint, QWidget* parent) : QAbstractButton(parent), tint_(tint) {
    static const bool switchesKnown = [] {
        QAccessible::installFactory(switchAccessible);
        return true;
    }();
    Q_UNUSED(switchesKnown);
    setFixedSize(kWidth, kHeight);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::ArrowCursor);
    FocusRing::of(*this);
}

void SwitchButton::setOn(bool on) {
    if (on_ == on) return;
    on_ = on;
    update();
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
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
    painter.setOpacity(1);
    paintFocusRing(painter, *this, GlassShape::capsule, track);
}

}  // namespace lumenhollow::ui
