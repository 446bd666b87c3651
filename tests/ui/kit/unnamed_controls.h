#pragma once

// What a screen reader would find nameless under a window: every control a
// person can press, drag, choose from or type into (buttons, pop-up menus,
// sliders, fields and the kit's own drawn controls) that is visible and
// whose accessible interface gives no name. A name made only of the symbol
// font's private-use characters (an icon drawn as text) says nothing and
// counts as none.
//
// namelessControls looks at the widgets; namelessInAccessibleTree walks the
// accessible tree as a screen reader does, so it also finds the drawn
// targets that have interfaces but no widgets, and a segmented picker whose
// segments the tree does not hold one by one.

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include <string>
#include <vector>

#include "lumenhollow/ui/kit/segmented_control.h"

namespace lumenhollow::test {

inline bool isInteractiveControl(const QWidget& widget) {
    static const char* const kDrawnControls[] = {
        "lumenhollow::ui::PillMenuLabel",  "lumenhollow::ui::SegmentedControl", "lumenhollow::ui::ZoomStepper",
        "lumenhollow::JoystickPad",        "lumenhollow::ZoomControl",          "lumenhollow::MicrophoneControl",
        "lumenhollow::MicrophoneMenuButton"};
    if (qobject_cast<const QAbstractButton*>(&widget) || qobject_cast<const QComboBox*>(&widget) ||
        qobject_cast<const QAbstractSlider*>(&widget) || qobject_cast<const QLineEdit*>(&widget) ||
        qobject_cast<const QAbstractSpinBox*>(&widget)) {
        return true;
    }
    for (const char* name : kDrawnControls) {
        if (widget.inherits(name)) return true;
    }
    return false;
}

// A name a screen reader can say: something but blanks and icon characters.
inline bool saysSomething(const QString& name) {
    for (const QChar c : name) {
        if (!c.isSpace() && c.category() != QChar::Other_PrivateUse) return true;
    }
    return false;
}

// "Class (object name, tooltip)" of each nameless control under `root`,
// and how many controls were looked at.
struct NamelessControls {
    std::vector<std::string> nameless;
    int looked = 0;
};

inline std::string describeWidget(const QObject* object) {
    const auto* widget = qobject_cast<const QWidget*>(object);
    if (!widget) return object ? std::string(object->metaObject()->className()) : std::string("(no object)");
    return std::string(widget->metaObject()->className()) + " (" + widget->objectName().toStdString() +
           ", tooltip \"" + widget->toolTip().toStdString() + "\")";
}

inline NamelessControls namelessControls(const QWidget& root) {
    NamelessControls found;
    for (const QWidget* widget : root.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&root) || !isInteractiveControl(*widget)) continue;
        ++found.looked;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget));
        if (accessible && saysSomething(accessible->text(QAccessible::Name))) continue;
        found.nameless.push_back(describeWidget(widget));
    }
    return found;
}

// The roles of what a person presses, drags, chooses from or types into.
inline bool isControlRole(QAccessible::Role role) {
    switch (role) {
        case QAccessible::Button:
        case QAccessible::CheckBox:
        case QAccessible::RadioButton:
        case QAccessible::ComboBox:
        case QAccessible::Slider:
        case QAccessible::SpinBox:
        case QAccessible::EditableText:
        case QAccessible::ButtonMenu:
        case QAccessible::ButtonDropDown:
        case QAccessible::ButtonDropGrid:
        case QAccessible::PageTab:
        case QAccessible::ListItem:
        case QAccessible::Link:
            return true;
        default:
            return false;
    }
}

namespace detail {
inline void walkAccessible(QAccessibleInterface* node, NamelessControls& found, int depth) {
    if (!node || depth > 64) return;
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        if (!child || child->state().invisible) continue;
        if (const auto* picker = qobject_cast<const ui::SegmentedControl*>(child->object());
            picker && child->childCount() != picker->count()) {
            found.nameless.push_back(std::to_string(picker->count()) + " segments but " +
                                     std::to_string(child->childCount()) + " parts in the tree: " +
                                     describeWidget(picker));
        }
        if (isControlRole(child->role())) {
            ++found.looked;
            if (!saysSomething(child->text(QAccessible::Name))) {
                found.nameless.push_back("role " + std::to_string(child->role()) + " of " +
                                         describeWidget(child->object()));
            }
        }
        walkAccessible(child, found, depth + 1);
    }
}
}  // namespace detail

// The same, found by walking `root`'s accessible tree.
inline NamelessControls namelessInAccessibleTree(QWidget& root) {
    NamelessControls found;
    detail::walkAccessible(QAccessible::queryAccessibleInterface(&root), found, 0);
    return found;
}

}  // namespace lumenhollow::test
