#pragma once

// The menu commands that are more than one model call, shared by the menu
// bar and the tray menu. Main executor only, like the model.

namespace lumenhollow {

class CameraModel;

namespace camera_commands {

// The follower waits this long after a flip, so it does not aim back at the
// face the turn is leaving.
inline constexpr double kFlipPauseSeconds = 3.0;

// Stops tracking while it runs, else starts it (which may be refused with a notice).
void toggleFaceTracking(CameraModel& model);
// Turns the camera round to face the user; while tracking, the follower is
// paused first.
void flipGimbal(CameraModel& model);
// Asks the gimbal to return to its centre.
void centerGimbal(CameraModel& model);

}  // namespace camera_commands
}  // namespace lumenhollow
