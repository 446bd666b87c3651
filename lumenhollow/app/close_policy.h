#pragma once

// What closing the main window means, as a plain decision: the application
// keeps running only where the user can still reach it. The island (shown
// when "showInNotch" is on and the island can be put on the screen) is the
// place "Keep Running in the Notch" promises; without it the tray icon can
// stand in; with neither, a process kept running would be invisible, so the
// application quits.

#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

enum class AfterMainWindowClosed : uint8_t { quit, keepRunningInIsland, keepRunningInTray };

struct CloseSituation {
    CloseBehavior closeBehavior = CloseBehavior::keepInNotch;
    bool showInNotch = true;
    // The island is on the screen as the window closes.
    bool islandAvailable = false;
    // A system tray shows the application's icon as the window closes.
    bool trayAvailable = false;
};

AfterMainWindowClosed afterMainWindowClosed(const CloseSituation& situation);

}  // namespace lumenhollow
