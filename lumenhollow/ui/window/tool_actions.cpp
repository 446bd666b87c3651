#include "lumenhollow/ui/window/tool_actions.h"

#include <QWidget>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/full_screen.h"

namespace lumenhollow {

CameraTraits cameraTraits(CameraModel& model) {
    hollowkit::PocketCamera& camera = model.camera();
    return {camera.supportsPositioning(), camera.supportsCameraSettings()};
}

void toggleFullScreen(QWidget* control) {
    if (control) ui::toggleFullScreen(*control);
}

}  // namespace lumenhollow
