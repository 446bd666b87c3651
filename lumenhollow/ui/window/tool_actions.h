#pragma once

// The tools the bottom bar and the tool rail share, held once per window:
// one QAction per command (full screen, auto frame, switching to USB for
// the auto-frame marker, centre, flip, the output folder), which each bar's
// and rail's button presses and whose state and help text it shows (see
// ui::attachToAction), and the guide and look menus both open. Full screen
// is checked while the window is. Each action acts at once on the model or
// its active camera (which does the work on its own queue). GUI thread,
// like the model; `model` and `window` must outlive it (it is the window's
// child).

#include <QObject>

#include "lumenhollow/ui/window/bar_state.h"

class QAction;
class QMenu;
class QWidget;

namespace lumenhollow {

class CameraModel;
class ModelSignals;

CameraTraits cameraTraits(CameraModel& model);

// Full screen on or off for the window `control` is in; nothing without one.
void toggleFullScreen(QWidget* control);

class ToolActions final : public QObject {
    Q_OBJECT
public:
    ToolActions(ModelSignals& model, QWidget& window);

    QAction& fullScreen() const { return *fullScreen_; }
    QAction& autoFrame() const { return *autoFrame_; }
    QAction& switchToUsb() const { return *switchToUsb_; }
    QAction& centre() const { return *centre_; }
    QAction& flip() const { return *flip_; }
    QAction& outputFolder() const { return *outputFolder_; }
    QMenu& guideMenu() const { return *guideMenu_; }
    QMenu& lookMenu() const { return *lookMenu_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followFullScreen();

    QWidget& window_;
    QAction* fullScreen_;
    QAction* autoFrame_;
    QAction* switchToUsb_;
    QAction* centre_;
    QAction* flip_;
    QAction* outputFolder_;
    QMenu* guideMenu_;
    QMenu* lookMenu_;
};

}  // namespace lumenhollow
