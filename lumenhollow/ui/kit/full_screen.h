#pragma once

// Full screen on and off for a top-level window, leaving it the way it was
// before: a maximised window comes back maximised, not at its normal size
// (QWidget::showNormal would forget that). GUI thread only.

#include <Qt>

class QWidget;

namespace lumenhollow::ui {

// The states a window takes when full screen is toggled while it is in
// `current`; `beforeFullScreen` is what it was in when it last went full
// screen.
Qt::WindowStates fullScreenToggled(Qt::WindowStates current, Qt::WindowStates beforeFullScreen);

// Full screen on or off for the window `widget` is in (not whichever window
// is active: a click need not activate its window).
void toggleFullScreen(QWidget& widget);

}  // namespace lumenhollow::ui
