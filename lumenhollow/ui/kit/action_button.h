#pragma once

// A button as one face of a QAction: the window holds one action per
// command, and each button for it (in the bottom bar, in the tool rail)
// presses that action and shows the action's state. GUI thread only.

class QAbstractButton;
class QAction;

namespace lumenhollow::ui {

// A press of `button` triggers `action`; the button takes the action's
// enabled and checked state and its tooltip as its help text (so also its
// accessible name), now and at each change of the action. The action must
// outlive the button or go first (the link goes with either).
void attachToAction(QAbstractButton& button, QAction& action);

}  // namespace lumenhollow::ui
