#pragma once

// SettingsMenu: the gear button of the top bar. A press opens the recording
// settings menu under it (codec, where Record goes, countdown, the "Notch"
// submenu, importing a look, opening the output folder). The menu is built
// anew from the model each time it opens and keeps no state: every row calls
// a model setter, which stores the setting. While it is open it follows the
// model when the settings snapshot changes (a recording starting, another
// camera). GUI thread only; the model must outlive the button.

#include <QMenu>

#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/menus/settings_menu_items.h"

namespace lumenhollow {

class ModelSignals;

class SettingsMenu final : public ui::IconButton {
    Q_OBJECT

public:
    static constexpr int kDiameter = 30;
    static constexpr double kGearPixels = 13;

    SettingsMenu(ModelSignals& model, QWidget* parent);

    QMenu& menu() const { return *menu_; }
    // Builds the menu from the model and shows it under the button, its
    // right edge on the button's.
    void openMenu();
    // The snapshot the open menu was built from.
    const SettingsSnapshot& shownSnapshot() const { return shown_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void rebuild();
    void followModel();

    ModelSignals& model_;
    QMenu* menu_;
    SettingsSnapshot shown_;
};

}  // namespace lumenhollow
