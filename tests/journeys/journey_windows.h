#pragma once

// The journeys' windows under a real window manager: a window of the
// test's own to put in front of the program's, whether a window manager
// runs, which window is active, and the program's main window.
//
// Thread: the test's own.

#include <sys/types.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tests/journeys/journey_desktop.h"
#include "tests/journeys/journey_screen.h"

namespace lumenhollow::journey {

// A plain managed window of the test's own, in one colour, placed where
// asked (a user-given position, which the window manager keeps); it lives
// as long as its connection.
class CoverWindow {
public:
    CoverWindow(const std::string& display, const ScreenRect& rect, uint32_t colour);
    ~CoverWindow();
    CoverWindow(const CoverWindow&) = delete;
    CoverWindow& operator=(const CoverWindow&) = delete;

    bool made() const { return made_; }
    std::string id() const { return std::to_string(window_); }

private:
    xcb_connection_t* connection_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    bool made_ = false;
};

// A window manager has said it runs (the root's _NET_SUPPORTING_WM_CHECK).
bool windowManagerRuns(const std::string& display);

// The active window's id as xdotool gives it; empty when there is none.
std::string activeWindow(JourneyDesktop& desktop);

// The program's main window: its visible window named after it alone and at
// least `minimumWidth` wide (the island may carry that name while it
// starts). Found without activating it, as JourneyApp's look-up would;
// waits for it at most 30 s.
std::optional<ScreenWindow> mainWindowOf(JourneyDesktop& desktop, pid_t pid, int minimumWidth);

// Where window `id` shows on the screen, inside any frame, as the server
// has it (xdotool's own reading of a framed window adds the frame's title
// once more).
std::optional<ScreenRect> windowOnScreen(const std::string& display, const std::string& id);

// A framed window's own area and the window manager's frame around it.
struct FramedWindow {
    ScreenRect client;
    FrameExtents extents;
    int top() const { return client.y - extents.top; }
    int bottom() const { return client.y + client.height + extents.bottom; }
    int right() const { return client.x + client.width + extents.right; }
};

// Window `id` once framed and held still (its area the same on two reads a
// moment apart) where `done` holds; where it last was when that does not
// come within `limit`, nothing when it was never framed.
std::optional<FramedWindow> settledFrame(JourneyDesktop& desktop, const std::string& id,
                                         const std::function<bool(const FramedWindow&)>& done,
                                         std::chrono::milliseconds limit);

}  // namespace lumenhollow::journey
