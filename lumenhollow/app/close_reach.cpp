#include "lumenhollow/app/close_reach.h"

#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/shell/tray_icon.h"

namespace lumenhollow {

bool islandOnScreen(const ui::NotchPanelController* island) {
    return island && island->isShown();
}

bool trayOnScreen(const TrayIcon* tray) {
    return tray && tray->hasTray();
}

}  // namespace lumenhollow
