#pragma once

// A control's help: its tooltip, and also its accessible name when it has no
// title of its own, so a screen reader says what an icon-only control does
// instead of reading the help out only as a description. GUI thread.

class QString;
class QWidget;

namespace lumenhollow::ui {

// Sets `widget`'s tooltip to `help`; its accessible name too unless a title
// was given it (a name not set by this function). Does nothing when unchanged.
void setHelp(QWidget& widget, const QString& help);

// Names `widget` by its `title`, which no help replaces afterwards; an empty
// title leaves the name as it is.
void setTitle(QWidget& widget, const QString& title);

}  // namespace lumenhollow::ui
