#pragma once

// TrayMenu: the tray icon's menu, made to work the camera while the main
// window is closed: the camera's status and battery, recording, photo,
// tracking, framing, centring, the scenes, zoom, the "Notch" settings, the
// way back to the window and Quit. Its rows live as long as the menu and
// follow the model on every change it publishes (and again as it opens),
// from trayMenuState; conditional rows are hidden while their condition is
// false. Each row calls one model operation, holding the model weakly.
//
// The menu is built whether or not a tray exists. Owned by TrayIcon, as a
// top-level popup: no window outlives it to be its parent. GUI thread only.

#include <QMenu>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "lumenhollow/ui/shell/tray_menu_state.h"

namespace lumenhollow {

class CameraModel;
class ModelSignals;

class TrayMenu final : public QMenu {
    Q_OBJECT

public:
    // Fills the "Notch" submenu with the notch settings each time it opens.
    using FillNotchMenu = std::function<void(QMenu& menu)>;

    // `model` must outlive the menu. Without `fillNotchMenu` there is no
    // "Notch" row.
    TrayMenu(ModelSignals& model, FillNotchMenu fillNotchMenu, QWidget* parent = nullptr);

    // Rows by their role, for the tray icon's owner and tests.
    QAction& statusLine() const { return *status_; }
    QAction& batteryLine() const { return *battery_; }
    QAction& recording() const { return *recording_; }
    QAction& recordScreen() const { return *recordScreen_; }
    QAction& takePhoto() const { return *takePhoto_; }
    QAction& faceTracking() const { return *faceTracking_; }
    QAction& autoFrame() const { return *autoFrame_; }
    QAction& centerGimbal() const { return *centerGimbal_; }
    QMenu& scenes() const { return *scenes_; }
    QAction& zoomIn() const { return *zoomIn_; }
    QAction& zoomOut() const { return *zoomOut_; }
    QMenu& notch() const { return *notch_; }
    QAction& showWindow() const { return *showWindow_; }
    QAction& quit() const { return *quit_; }

    // Applies the model's state now.
    void refresh();

private:
    using Operation = std::function<void(CameraModel& model)>;

    QAction* addRow(std::string_view title, Operation operation);
    QAction* addRowTo(QMenu& menu, std::string_view title, Operation operation);
    void rebuildScenes(const std::vector<std::string>& titles);

    const std::weak_ptr<CameraModel> weakModel_;
    const FillNotchMenu fillNotchMenu_;
    QAction* status_;
    QAction* battery_;
    QAction* recording_ = nullptr;
    QAction* recordScreen_ = nullptr;
    QAction* takePhoto_ = nullptr;
    QAction* faceTracking_ = nullptr;
    QAction* autoFrame_ = nullptr;
    QAction* centerGimbal_ = nullptr;
    QMenu* scenes_ = nullptr;
    QAction* zoomIn_ = nullptr;
    QAction* zoomOut_ = nullptr;
    QMenu* notch_ = nullptr;
    QAction* showWindow_ = nullptr;
    QAction* quit_ = nullptr;
    std::optional<TrayMenuState> shown_;
};

}  // namespace lumenhollow
