#include "lumenhollow/ui/shell/camera_commands.h"

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow::camera_commands {

void toggleFaceTracking(CameraModel& model) {
    if (model.state().faceTracking) {
        model.stopFaceTracking();
    } else {
        model.startFaceTracking();
    }
}

void flipGimbal(CameraModel& model) {
    // The pause goes first: a follower step between the two would undo the turn.
    if (model.state().faceTracking) model.faceFollower().pause(kFlipPauseSeconds);
    model.camera().flipGimbal();
}

void centerGimbal(CameraModel& model) { model.camera().gimbal().requestRecenter(); }

}  // namespace lumenhollow::camera_commands
