#include "lumenhollow/ui/kit/action_button.h"

#include <QAbstractButton>
#include <QAction>

#include "lumenhollow/ui/kit/accessible_help.h"

namespace lumenhollow::ui {

void attachToAction(QAbstractButton& button, QAction& action) {
    const auto follow = [&button, &action] {
        button.setEnabled(action.isEnabled());
        button.setCheckable(action.isCheckable());
        button.setChecked(action.isChecked());
        setHelp(button, action.toolTip());
    };
    follow();
    QObject::connect(&action, &QAction::changed, &button, follow);
    // The press's own toggle of a checkable button is put right by the
    // action's answer: the action holds the state.
    QObject::connect(&button, &QAbstractButton::clicked, &action, [&action, &button] {
        action.trigger();
        button.setChecked(action.isChecked());
    });
}

}  // namespace lumenhollow::ui
