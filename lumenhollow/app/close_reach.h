#pragma once

// Where the application can still be reached once its main window has
// closed, asked of the desktop at that moment, for the close policy: the
// island only while it is on the screen (it hides with "showInNotch" off or
// without a screen to show on), the tray icon only while a tray exists (a
// panel's tray may start after the application, or stop). GUI thread only.

namespace lumenhollow {

class TrayIcon;

namespace ui {
class NotchPanelController;
}

// Either may be none: nothing of it exists.
bool islandOnScreen(const ui::NotchPanelController* island);
bool trayOnScreen(const TrayIcon* tray);

}  // namespace lumenhollow
