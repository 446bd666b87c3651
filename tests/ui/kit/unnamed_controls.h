#pragma once

// What a screen reader would find nameless under a window: every control a
// person can press or drag (buttons and the kit's own drawn controls) that
// is visible and whose accessible interface gives no name.

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QWidget>

#include <string>
#include <vector>

namespace lumenhollow::test {

inline bool isInteractiveControl(const QWidget& widget) {
    static const char* const kDrawnControls[] = {
        "lumenhollow::ui::PillMenuLabel",  "lumenhollow::ui::SegmentedControl", "lumenhollow::ui::ZoomStepper",
        "lumenhollow::JoystickPad",        "lumenhollow::ZoomControl",          "lumenhollow::MicrophoneControl",
        "lumenhollow::MicrophoneMenuButton"};
    if (qobject_cast<const QAbstractButton*>(&widget)) return true;
    for (const char* name : kDrawnControls) {
        if (widget.inherits(name)) return true;
    }
    return false;
}

// "Class (object name, tooltip)" of each nameless control under `root`,
// and how many controls were looked at.
struct NamelessControls {
    std::vector<std::string> nameless;
    int looked = 0;
};

inline NamelessControls namelessControls(const QWidget& root) {
    NamelessControls found;
    for (const QWidget* widget : root.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&root) || !isInteractiveControl(*widget)) continue;
        ++found.looked;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(const_cast<QWidget*>(widget));
        if (accessible && !accessible->text(QAccessible::Name).trimmed().isEmpty()) continue;
        found.nameless.push_back(std::string(widget->metaObject()->className()) + " (" +
                                 widget->objectName().toStdString() + ", tooltip \"" +
                                 widget->toolTip().toStdString() + "\")");
    }
    return found;
}

}  // namespace lumenhollow::test
