#pragma once

// Open popovers in the accessible tree. Qt leaves pop-up windows out of the
// application's accessible children (it takes them all for menus, which a
// screen reader follows by their focus), so a popover, a pop-up window of
// its own, would be found only through the focus, never by walking the
// application's tree. Once installed, the application's accessible object
// lists every open popover after its windows, the popover's own parent
// being the application already, and a popover reads as a dialog named
// after the control that opened it. GUI thread.

namespace lumenhollow::ui {

// Installs the above once; later calls do nothing. The first popover made
// calls it.
void installPopoverAccessibility();

}  // namespace lumenhollow::ui
