#pragma once

// The application's own windows as the X server knows them, for the cursor
// recorder's "over the app" flag: every visible top-level window of this
// process (the main window, the island, popovers, menus, tooltips, dialogs).
// Asked afresh at every sample, so windows that come and go are current.
// GUI thread only (the main executor); empty on a platform that is not X11.

#include <cstdint>
#include <vector>

namespace lumenhollow {

std::vector<uint32_t> visibleAppWindows();

}  // namespace lumenhollow
