#pragma once

// The tool actions the bottom bar and the tool rail share: recentre, flip,
// full screen, and reading the active camera's traits. Each acts at once on
// the model's active camera (which does the work on its own queue). GUI
// thread, like the model.

#include "lumenhollow/ui/window/bar_state.h"

class QWidget;

namespace lumenhollow {

class CameraModel;

CameraTraits cameraTraits(CameraModel& model);

// Asks the active camera's gimbal to recentre.
void recenterGimbal(CameraModel& model);

// While face tracking runs, the follower is held for the jump's pause first
// so it does not fight the turn; then the camera flips.
void flipToFace(CameraModel& model);

// Full screen on or off for `window`; nothing without a window.
void toggleFullScreen(QWidget* window);

// The window that has the keyboard, or none.
QWidget* keyWindow();

}  // namespace lumenhollow
