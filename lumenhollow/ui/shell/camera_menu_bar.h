#pragma once

// CameraMenuBar: the main window's menu bar: "Lumenhollow" (Check for
// Updates…, Quit), "Camera" (every capture, framing, gimbal and scene
// command), "View" (full screen) and "Help" (Keyboard Shortcuts). Its
// actions live as long as the bar, so their keys work whether or not a menu
// is open; titles, enabled states and check marks follow the model on every
// change it publishes (and again as a menu opens), from cameraMenuState. A
// disabled action leaves its key unused. Each action calls one model
// operation, holding the model weakly.
//
// The full-screen item is the window's own full-screen action, which its
// bottom bar and tool rail press too: the bar gives it its keys and a title
// that follows its checked state ("Enter Full Screen", "Exit Full Screen").
//
// Owned by its window (the one full screen applies to). GUI thread only.

#include <QMenuBar>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "lumenhollow/ui/shell/camera_menu_state.h"

namespace lumenhollow {

class CameraModel;
class ModelSignals;
class Updater;

class CameraMenuBar final : public QMenuBar {
    Q_OBJECT

public:
    // `model` must outlive the bar; the updater may go first; `fullScreen`
    // is the window's checkable full-screen action, which may go first.
    CameraMenuBar(ModelSignals& model, Updater& updater, QAction& fullScreen, QWidget* parent);

    // The action of a command with a key, and the three without one.
    QAction& action(CameraMenuCommand command) const;
    QAction& checkForUpdatesAction() const { return *checkForUpdates_; }
    QAction& centerGimbalAction() const { return *centerGimbal_; }
    const std::vector<QAction*>& sceneActions() const { return sceneActions_; }
    QMenu& cameraMenu() const { return *camera_; }

    // Applies the model's and the updater's state now.
    void refresh();

private:
    using Operation = std::function<void(CameraModel& model)>;

    QAction* addCommand(QMenu& menu, std::string_view title, CameraMenuCommand command, Operation operation);
    void rebuildScenes(const std::vector<SceneItemState>& scenes);
    void refreshFullScreenTitle();

    ModelSignals& model_;
    const std::weak_ptr<CameraModel> weakModel_;
    QPointer<Updater> updater_;
    QPointer<QAction> fullScreen_;
    QMenu* camera_;
    QAction* checkForUpdates_ = nullptr;
    QAction* centerGimbal_ = nullptr;
    // The separator after the scene items; they are inserted before it.
    QAction* afterScenes_ = nullptr;
    std::array<QAction*, static_cast<size_t>(CameraMenuCommand::openOutputFolder) + 1> commands_{};
    std::vector<QAction*> sceneActions_;
    std::optional<CameraMenuState> shown_;
};

}  // namespace lumenhollow
