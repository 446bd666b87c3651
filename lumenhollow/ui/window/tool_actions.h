#pragma once

// The tool actions the bottom bar and the tool rail share beyond the
// model's own calls: full screen, and reading the active camera's traits. Each acts at once on
// the model's active camera (which does the work on its own queue). GUI
// thread, like the model.

#include "lumenhollow/ui/window/bar_state.h"

class QWidget;

namespace lumenhollow {

class CameraModel;

CameraTraits cameraTraits(CameraModel& model);

// Full screen on or off for the window `control` is in; nothing without one.
void toggleFullScreen(QWidget* control);

}  // namespace lumenhollow
