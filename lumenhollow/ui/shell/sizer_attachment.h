#pragma once

// When the window sizer takes a window: every time a window that can be the
// main one becomes active, and, once at start, the first visible such window
// on a later turn of the main executor (after the start-up has shown it).
// Dialogs, popups, tool panels and the island never take the sizer.
// GUI thread only.

#include <Qt>

#include "hollowkit/base/executor.h"

class QWidget;
class QWindow;

namespace lumenhollow {

class WindowSizer;

// A plain top-level window; not a dialog, sheet, popup, tool panel, tooltip
// or splash, nor a window kept out of the window manager's hands.
bool canBecomeMainWindow(Qt::WindowFlags flags);

// The widget whose native window is `window`, when it is one that can
// become the main window.
QWidget* mainCapableWidget(QWindow* window);

// Attaches `sizer` to each main-capable window as it becomes active, for as
// long as the sizer lives.
void attachSizerOnActivation(WindowSizer& sizer);

// On a later turn of `main`, attaches `sizer` to the first visible
// main-capable window, if any.
void attachSizerToFirstWindowLater(WindowSizer& sizer, hollowkit::MainExecutor& main);

}  // namespace lumenhollow
