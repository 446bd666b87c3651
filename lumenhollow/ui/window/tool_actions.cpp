#include "lumenhollow/ui/window/tool_actions.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QWidget>

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/full_screen.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/window/look_menu.h"

namespace lumenhollow {

namespace {

QAction* toolAction(const std::string& help, QObject* owner) {
    auto* action = new QAction(QString::fromStdString(help), owner);
    action->setToolTip(action->text());
    return action;
}

}  // namespace

CameraTraits cameraTraits(CameraModel& model) {
    hollowkit::PocketCamera& camera = model.camera();
    return {camera.supportsPositioning(), camera.supportsCameraSettings()};
}

void toggleFullScreen(QWidget* control) {
    if (control) ui::toggleFullScreen(*control);
}

ToolActions::ToolActions(ModelSignals& model, QWidget& window)
    : QObject(&window),
      window_(window),
      fullScreen_(toolAction(fullScreenHelp(), this)),
      autoFrame_(toolAction(autoFrameHelp(), this)),
      switchToUsb_(toolAction("Auto frame", this)),
      centre_(toolAction(recenterHelp(), this)),
      flip_(toolAction(flipHelp(), this)),
      outputFolder_(toolAction(outputFolderHelp(), this)),
      guideMenu_(new QMenu(&window)),
      lookMenu_(new QMenu(&window)) {
    CameraModel& camera = model.model();
    fullScreen_->setCheckable(true);
    connect(fullScreen_, &QAction::triggered, this, [this] {
        toggleFullScreen(&window_);
        followFullScreen();
    });
    connect(autoFrame_, &QAction::triggered, this, [&camera] { camera.autoFrame(); });
    connect(switchToUsb_, &QAction::triggered, this, [&camera] { camera.switchToUSB(); });
    connect(centre_, &QAction::triggered, this, [&camera] { camera.centerGimbal(); });
    connect(flip_, &QAction::triggered, this, [&camera] { camera.flipGimbal(); });
    connect(outputFolder_, &QAction::triggered, this, [&camera] { camera.openOutputFolder(); });
    bindGuideMenu(*guideMenu_, model);
    bindLookMenu(*lookMenu_, model);
    // Full screen may also come and go by the menu bar or the window manager.
    window_.window()->installEventFilter(this);
    followFullScreen();
}

bool ToolActions::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) followFullScreen();
    return QObject::eventFilter(watched, event);
}

void ToolActions::followFullScreen() { fullScreen_->setChecked(window_.window()->isFullScreen()); }

}  // namespace lumenhollow
