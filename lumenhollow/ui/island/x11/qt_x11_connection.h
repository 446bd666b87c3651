#pragma once

// Qt's own connection to the X server, for asking it things and setting
// our windows' properties; null away from X11. GUI thread only.

struct xcb_connection_t;

namespace lumenhollow::ui {

xcb_connection_t* qtX11Connection();

}  // namespace lumenhollow::ui
