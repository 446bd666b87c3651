#include "lumenhollow/ui/window/tool_actions.h"

#include <QApplication>
#include <QWidget>

#include "lumenhollow/model/camera_model.h"

namespace lumenhollow {

CameraTraits cameraTraits(CameraModel& model) {
    hollowkit::PocketCamera& camera = model.camera();
    return {camera.supportsPositioning(), camera.supportsCameraSettings()};
}

void recenterGimbal(CameraModel& model) { model.camera().gimbal().requestRecenter(); }

void flipToFace(CameraModel& model) {
    if (model.state().faceTracking) model.faceFollower().pause(CameraModel::kJumpPauseSeconds);
    model.camera().flipGimbal();
}

void toggleFullScreen(QWidget* window) {
    if (!window) return;
    if (window->isFullScreen()) {
        window->showNormal();
    } else {
        window->showFullScreen();
    }
}

QWidget* keyWindow() { return QApplication::activeWindow(); }

}  // namespace lumenhollow
