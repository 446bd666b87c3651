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
    // The island can be shown on this desktop (an X11 screen).
    bool islandAvailable = false;
    // A system tray takes the application's icon.
    bool trayAvailable = false;
};

AfterMainWindowClosed afterMainWindowClosed(const CloseSituation& situation);

}  // namespace lumenhollow
