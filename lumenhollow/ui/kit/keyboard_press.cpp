#include "lumenhollow/ui/kit/keyboard_press.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow::ui {

namespace {

// What makes a control pressable: its keys, its role and its press.
class KeyboardPress final : public QObject {
public:
    KeyboardPress(QWidget& control, PressRole role, std::function<void()> press, std::function<bool()> isOpen)
        : QObject(&control), role_(role), press_(std::move(press)), isOpen_(std::move(isOpen)) {
        control.installEventFilter(this);
    }

    static KeyboardPress* of(const QObject& control) {
        for (QObject* child : control.children()) {
            if (auto* keys = dynamic_cast<KeyboardPress*>(child)) return keys;
        }
        return nullptr;
    }

    PressRole role() const { return role_; }
    void set(PressRole role, std::function<void()> press, std::function<bool()> isOpen) {
        role_ = role;
        press_ = std::move(press);
        isOpen_ = std::move(isOpen);
    }
    bool isOpen() const { return isOpen_ && isOpen_(); }
    void press() {
        // The press may take the control away: the action is kept for its run.
        const std::function<void()> action = press_;
        if (action) action();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        auto* control = static_cast<QWidget*>(watched);
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::ShiftModifier);
        switch (key->key()) {
            case Qt::Key_Space:
            case Qt::Key_Return:
            case Qt::Key_Enter:
                // With a modifier held it is a shortcut's, not the control's.
                if (held != Qt::NoModifier) return false;
                key->accept();
                if (type == QEvent::KeyPress && !key->isAutoRepeat() && control->isEnabled()) press();
                return true;
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_Left:
            case Qt::Key_Right:
                // The arrows turn the camera: up to the picture, never a
                // move of the focus between buttons.
                key->ignore();
                return true;
            default: return false;
        }
    }

private:
    PressRole role_;
    std::function<void()> press_;
    std::function<bool()> isOpen_;
};

// A pressable control as a screen reader finds it: a push button, or a
// menu button that shows its menu, whose actions press it as Space does.
class PressableAccessible final : public QAccessibleWidget {
public:
    PressableAccessible(QWidget* control, PressRole role)
        : QAccessibleWidget(control, role == PressRole::menuButton ? QAccessible::ButtonMenu : QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override {
        QString own = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && own.isEmpty()) {
            if (auto* button = qobject_cast<QAbstractButton*>(widget())) own = button->text();
        }
        return own;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        if (auto* button = qobject_cast<QAbstractButton*>(widget())) {
            state.pressed = button->isDown();
            state.checkable = button->isCheckable();
            state.checked = button->isChecked();
        }
        if (role() == QAccessible::ButtonMenu) {
            state.hasPopup = true;
            state.expandable = true;
            const KeyboardPress* keys = KeyboardPress::of(*widget());
            state.expanded = keys && keys->isOpen();
            state.collapsed = !state.expanded;
        }
        return state;
    }
    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled()) {
            if (role() == QAccessible::ButtonMenu) names << showMenuAction();
            names << pressAction();
        }
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != pressAction() && action != showMenuAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (!widget()->isEnabled()) return;
        if (KeyboardPress* keys = KeyboardPress::of(*widget())) keys->press();
    }
    QStringList keyBindingsForAction(const QString& action) const override {
        if (action == pressAction() || action == showMenuAction()) return {QStringLiteral("Space")};
        return QAccessibleWidget::keyBindingsForAction(action);
    }
};

QAccessibleInterface* pressableAccessible(const QString&, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    KeyboardPress* keys = KeyboardPress::of(*object);
    return keys ? new PressableAccessible(static_cast<QWidget*>(object), keys->role()) : nullptr;
}

// The control's accessible object, when one was made before it became
// pressable (its name is set while it is built) or for another role, is
// dropped: the next question makes it anew, as the button it is now.
void forgetAccessible(QWidget& control, PressRole role) {
    static const bool installed = [] {
        QAccessible::installFactory(pressableAccessible);
        return true;
    }();
    Q_UNUSED(installed);
    QAccessibleInterface* known = QAccessible::queryAccessibleInterface(&control);
    const QAccessible::Role wanted = role == PressRole::menuButton ? QAccessible::ButtonMenu : QAccessible::Button;
    if (known && (!dynamic_cast<PressableAccessible*>(known) || known->role() != wanted)) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(known));
    }
}

}  // namespace

bool focusRingShown(Qt::FocusReason reason, bool shownBefore) {
    switch (reason) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason: return true;
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason: return shownBefore;
        default: return false;
    }
}

FocusRing::FocusRing(QWidget& control) : QObject(&control), control_(control) { control.installEventFilter(this); }

FocusRing& FocusRing::of(QWidget& control) {
    if (auto* ring = control.findChild<FocusRing*>(QString(), Qt::FindDirectChildrenOnly)) return *ring;
    return *new FocusRing(control);
}

bool FocusRing::eventFilter(QObject*, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::FocusIn && type != QEvent::FocusOut) return false;
    if (type == QEvent::FocusIn) keyboard_ = focusRingShown(static_cast<QFocusEvent*>(event)->reason(), keyboard_);
    // Going out to a popup or another window, the ring waits for the focus's return.
    const bool shown = type == QEvent::FocusIn && keyboard_;
    if (shown != shown_) {
        shown_ = shown;
        control_.update();
    }
    return false;
}

bool showsFocusRing(const QWidget& control) {
    const auto* ring = control.findChild<FocusRing*>(QString(), Qt::FindDirectChildrenOnly);
    return ring && ring->shown() && control.hasFocus();
}

void paintFocusRing(QPainter& painter, const QWidget& control, GlassShape shape, const QRectF& rect,
                    double cornerRadius) {
    if (!showsFocusRing(control)) return;
    painter.save();
    painter.setOpacity(1);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(platformAccentColor(), kFocusRingWidth));
    painter.setBrush(Qt::NoBrush);
    const double half = kFocusRingWidth / 2;
    const double radius = cornerRadius > half ? cornerRadius - half : cornerRadius;
    painter.drawPath(glassPath(shape, rect.adjusted(half, half, -half, -half), radius));
    painter.restore();
}

FocusRing& makePressable(QWidget& control, PressRole role, std::function<void()> press,
                         std::function<bool()> isOpen) {
    if (KeyboardPress* keys = KeyboardPress::of(control)) {
        keys->set(role, std::move(press), std::move(isOpen));
        forgetAccessible(control, role);
        return FocusRing::of(control);
    }
    new KeyboardPress(control, role, std::move(press), std::move(isOpen));
    control.setFocusPolicy(Qt::TabFocus);
    forgetAccessible(control, role);
    return FocusRing::of(control);
}

bool pressControl(QWidget& control) {
    KeyboardPress* keys = KeyboardPress::of(control);
    if (!keys || !control.isEnabled()) return false;
    keys->press();
    return true;
}

bool pressedOpen(const QWidget& control) {
    const KeyboardPress* keys = KeyboardPress::of(control);
    return keys && keys->isOpen();
}

std::optional<PressRole> pressRole(const QWidget& control) {
    const KeyboardPress* keys = KeyboardPress::of(control);
    return keys ? std::optional<PressRole>(keys->role()) : std::nullopt;
}

}  // namespace lumenhollow::ui
