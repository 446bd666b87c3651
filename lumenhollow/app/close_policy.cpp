#include "lumenhollow/app/close_policy.h"

namespace lumenhollow {

AfterMainWindowClosed afterMainWindowClosed(const CloseSituation& situation) {
    // "Quit Lumenhollow", or the island turned off: quit, tray or not.
    if (situation.closeBehavior == CloseBehavior::quit || !situation.showInNotch) {
        return AfterMainWindowClosed::quit;
    }
    if (situation.islandAvailable) return AfterMainWindowClosed::keepRunningInIsland;
    if (situation.trayAvailable) return AfterMainWindowClosed::keepRunningInTray;
    return AfterMainWindowClosed::quit;
}

}  // namespace lumenhollow
