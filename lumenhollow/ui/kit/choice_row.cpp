#include "lumenhollow/ui/kit/choice_row.h"

#include <QAction>
#include <QVariant>

namespace lumenhollow::ui {

namespace {

// The mark the owner gave: absent on any other action.
constexpr const char* kChoiceMarked = "lumenhollowChoiceMarked";

}  // namespace

void makeChoiceRow(QAction& action, bool current) {
    action.setCheckable(true);
    markChoiceRow(action, current);
    // Connected first, so the owner's handlers see the mark as it was given:
    // QAction::activate has already flipped it by the time triggered fires.
    QObject::connect(&action, &QAction::triggered, &action,
                     [&action] { action.setChecked(action.property(kChoiceMarked).toBool()); });
}

void markChoiceRow(QAction& action, bool current) {
    action.setProperty(kChoiceMarked, current);
    action.setChecked(current);
}

bool isChoiceRow(const QAction& action) { return action.property(kChoiceMarked).isValid(); }

}  // namespace lumenhollow::ui
