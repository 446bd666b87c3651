#pragma once

// WindowOwner: whether a window directly under the root (a top-level
// window, or a window manager's frame around one) belongs to one process.
// A window manager's client window (WM_STATE) decides by its _NET_WM_PID,
// whether it is the window itself or sits inside a frame, which may carry
// the window manager's own mark; with no client window in it, the window's
// own mark decides, else the first one below it. The one rule by which the
// screen capture leaves this process's windows out (WindowStack) and the
// pointer's record tells a press on them (X11PointerService), so the two
// never disagree: a frame, its title bar included, counts with the window
// it holds.
//
// Thread: the connection's owner; the connection is borrowed. A request
// that fails (a window gone meanwhile) leaves that window out of the search.

#include <cstdint>

struct xcb_connection_t;

namespace hollowkit::x11 {

class WindowOwner {
public:
    // Interns the atoms it reads (a round trip each).
    WindowOwner(xcb_connection_t* connection, uint32_t pid);

    // Whether `topLevel`, a child of the root, is the process's. A few round
    // trips: the window's marks, then one level of its children at a time.
    bool owns(uint32_t topLevel) const;

private:
    xcb_connection_t* const connection_;
    const uint32_t pid_;
    uint32_t pidAtom_ = 0;
    uint32_t wmStateAtom_ = 0;
};

}  // namespace hollowkit::x11
