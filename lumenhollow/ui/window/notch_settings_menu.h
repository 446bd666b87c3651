#pragma once

// NotchSettingsMenu: the "Notch" submenu on its own, for menus outside the
// main window (the tray's): whether the island shows, what it shows when
// open, what opens it and what closing the main window does. It is filled
// from the model's live values each time it is about to show; every row
// calls the model's setter, which stores the setting. The gear menu carries
// the same rows through settingsMenuEntries. GUI thread only.

#include <QMenu>

#include <memory>

namespace lumenhollow {

class CameraModel;

// Replaces `menu`'s rows with the notch settings as `model` holds them now;
// the rows hold the model weakly.
void fillNotchSettingsMenu(QMenu& menu, const std::shared_ptr<CameraModel>& model);

class NotchSettingsMenu final : public QMenu {
    Q_OBJECT

public:
    NotchSettingsMenu(std::weak_ptr<CameraModel> model, QWidget* parent);

    // Fills the rows now, as opening does.
    void rebuild();

private:
    std::weak_ptr<CameraModel> model_;
};

}  // namespace lumenhollow
