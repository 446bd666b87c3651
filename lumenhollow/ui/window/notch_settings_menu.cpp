#include "lumenhollow/ui/window/notch_settings_menu.h"

#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/menus/menu_commands.h"
#include "lumenhollow/ui/menus/menu_filler.h"
#include "lumenhollow/ui/menus/settings_menu_items.h"

namespace lumenhollow {

void fillNotchSettingsMenu(QMenu& menu, const std::shared_ptr<CameraModel>& model) {
    std::weak_ptr<CameraModel> weak = model;
    fillMenu(menu, notchSettingsEntries(model->state()), [weak](const MenuEntry& entry) {
        if (const auto strong = weak.lock()) runMenuCommand(*strong, entry);
    });
}

NotchSettingsMenu::NotchSettingsMenu(std::weak_ptr<CameraModel> model, QWidget* parent)
    : QMenu(QString::fromUtf8(kNotchTitle), parent), model_(std::move(model)) {
    connect(this, &QMenu::aboutToShow, this, [this] { rebuild(); });
}

void NotchSettingsMenu::rebuild() {
    if (const auto model = model_.lock()) fillNotchSettingsMenu(*this, model);
}

}  // namespace lumenhollow
