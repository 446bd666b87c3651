#pragma once

// Choice rows: the one way a menu marks which of its rows is the current
// choice. A choice row is a checkable QAction whose check mark says what its
// owner last said is current, and nothing else. Qt flips a checkable row
// that is triggered, which would take the mark off the current row when it
// is chosen again and put it on a row the model may yet refuse; a choice row
// puts its mark back before anything else hears the trigger. The mark moves
// only through markChoiceRow. Not in a QActionGroup: a desktop's tray would
// draw a grouped row as a radio button. GUI thread only.

class QAction;

namespace lumenhollow::ui {

// Makes `action` a choice row, marked when `current`. Call once, before
// connecting anything else to its triggered signal.
void makeChoiceRow(QAction& action, bool current);

// Sets whether the choice row `action` is the current choice.
void markChoiceRow(QAction& action, bool current);

// True when `action` was made a choice row.
bool isChoiceRow(const QAction& action);

}  // namespace lumenhollow::ui
