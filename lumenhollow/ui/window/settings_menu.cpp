#include "lumenhollow/ui/window/settings_menu.h"

#include <QMouseEvent>

#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/menus/menu_commands.h"
#include "lumenhollow/ui/menus/menu_filler.h"

namespace lumenhollow {

SettingsMenu::SettingsMenu(ModelSignals& model, QWidget* parent)
    : ui::IconButton("gearshape", QStringLiteral("Settings"), kDiameter, parent),
      model_(model),
      menu_(new QMenu(this)) {
    setObjectName("settingsMenu");
    setSymbolPixels(kGearPixels);
    ui::makePressable(*this, ui::PressRole::menuButton, [this] { openMenu(); }, [this] { return menu_->isVisible(); });
    model_.onChange(kSettingsSnapshotFields, this, [this] { followModel(); });
}

void SettingsMenu::openMenu() {
    rebuild();
    const QPoint below = mapToGlobal(QPoint(width(), height()));
    menu_->popup(below - QPoint(menu_->sizeHint().width(), 0));
}

void SettingsMenu::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !hitButton(event->position().toPoint())) {
        event->ignore();
        return;
    }
    event->accept();
    openMenu();
}

void SettingsMenu::rebuild() {
    shown_ = settingsSnapshot(model_.model());
    std::weak_ptr<CameraModel> weak = model_.sharedModel();
    fillMenu(*menu_, settingsMenuEntries(shown_, model_.state()), [weak](const MenuEntry& entry) {
        if (const auto model = weak.lock()) runMenuCommand(*model, entry);
    });
}

void SettingsMenu::followModel() {
    if (!menu_->isVisible()) return;
    const SettingsSnapshot snapshot = settingsSnapshot(model_.model());
    if (snapshot == shown_) return;
    shown_ = snapshot;
    // The same rows only change their states; a row that comes or goes
    // (the record-target picker) needs the menu built again.
    if (!refreshMenu(*menu_, settingsMenuEntries(shown_, model_.state()))) rebuild();
}

}  // namespace lumenhollow
