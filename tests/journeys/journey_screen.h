#pragma once

// What the journeys see of a program on its desktop's screen: its visible
// windows and where they sit (found with xdotool), and the brightness of a
// region of the screen, read from the root window.
//
// Thread: the test's own.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/journeys/journey_desktop.h"

namespace lumenhollow::journey {

struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int centreX() const { return x + width / 2; }
    int centreY() const { return y + height / 2; }
};

// Pixels read back from the screen.
struct ScreenPicture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB, row by row
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
};

// The pixels shown in `rect` of `display`'s screen, read from the root
// window by a client of the test's own (the pointer is not in it; the
// island, another process's override-redirect window, is); nothing when the
// server cannot be reached or the rect is off the screen.
std::optional<ScreenPicture> readScreen(const std::string& display, const ScreenRect& rect);

// Runs xdotool on the desktop; false (with its words in `output`) when it failed.
bool xdotool(JourneyDesktop& desktop, const std::vector<std::string>& arguments, std::string* output = nullptr);

// Where window `id` sits on the screen; nothing when xdotool cannot say.
std::optional<ScreenRect> windowGeometry(JourneyDesktop& desktop, const std::string& id);

// Where window `id`'s own area (inside any window manager's frame) lies on
// the screen, read from the X server; nothing when it cannot say. (xdotool
// adds the frame's offset once more under a reparenting window manager.)
std::optional<ScreenRect> clientArea(JourneyDesktop& desktop, const std::string& id);

// The window manager's frame around window `id`, each side, as it set
// _NET_FRAME_EXTENTS; nothing before it has.
struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};
std::optional<FrameExtents> frameExtents(JourneyDesktop& desktop, const std::string& id);

// A visible window of a program: its X id and where it sits.
struct ScreenWindow {
    std::string id;
    ScreenRect rect;
};
// The visible windows of process `pid` whose place xdotool can read.
std::vector<ScreenWindow> visibleWindows(JourneyDesktop& desktop, pid_t pid);
// The visible window of process `pid` that is `width` wide (a popover
// whose content has a fixed width).
std::optional<ScreenRect> visibleWindowOfWidth(JourneyDesktop& desktop, pid_t pid, int width);

// Keys typed into a menu that a click at (x, y) on the screen opens: the
// click, the pointer then at `rest` (when given), the wait until the menu
// shows, the keys, and the wait until every window the menu opened has
// gone. Keys sent before the menu shows may reach the program before the
// click does: a window manager holds a press on a window while it gives
// that window the focus, but never the keyboard. False when a step failed
// or the menu never showed or never went.
struct ScreenPoint {
    int x = 0;
    int y = 0;
};
bool chooseFromMenu(JourneyDesktop& desktop, JourneyApp& app, ScreenPoint click, std::optional<ScreenPoint> rest,
                    const std::vector<std::string>& keys);

// The brightness (luma, 0...255) of a colour, as the screen's readers
// weigh it.
inline uint8_t lumaOf(int red, int green, int blue) {
    return static_cast<uint8_t>((red * 299 + green * 587 + blue * 114) / 1000);
}

// The brightness of every pixel of `rect` on the screen, row by row, as
// readScreen reads it; empty when the X server would not say.
std::vector<uint8_t> captureBrightness(JourneyDesktop& desktop, const ScreenRect& rect);

// Pixels of `brightness` at or above `threshold`, as a share of them all.
double shareAtLeast(const std::vector<uint8_t>& brightness, uint8_t threshold);
double meanOf(const std::vector<uint8_t>& brightness);

}  // namespace lumenhollow::journey
