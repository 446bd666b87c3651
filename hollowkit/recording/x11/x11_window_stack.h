#pragma once

// WindowStack: the root window's children on one X11 connection, bottom
// first, with where each stands and which of them belong to one process.
// Whether a window belongs to the process is WindowOwner's rule (a window
// manager's frame counts with the client window it holds), decided once per
// window as it is first seen viewable. Each window's shape (XShape)
// tells which parts of it show. The list is read again only after the
// owner, who reads the root's structure and shape events, said it changed.
//
// Thread: the owner's (the screen capture's thread); the connection is
// borrowed and used by that thread only. Failed requests leave a window out.

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "hollowkit/recording/x11/x11_window_owner.h"

struct xcb_connection_t;

namespace hollowkit::x11 {

// A rectangle of pixels; x and y can be negative (a window partly off the
// screen).
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool empty() const { return width <= 0 || height <= 0; }
    // The part inside `other`; empty (0 x 0) when they do not meet.
    PixelRect intersected(const PixelRect& other) const;
    bool operator==(const PixelRect&) const = default;
};

// The smallest rectangle holding all of `rects`; empty for none.
PixelRect boundingRect(const std::vector<PixelRect>& rects);
// Where some rectangle of `a` and some of `b` meet (overlaps possible).
std::vector<PixelRect> intersections(const std::vector<PixelRect>& a, const std::vector<PixelRect>& b);

struct TopWindow {
    uint32_t id = 0;
    PixelRect area;  // on the root, its border included
    // The parts of it that show, on the root: its shape, else its area.
    std::vector<PixelRect> shape;
    uint32_t visual = 0;
    bool ours = false;

    bool operator==(const TopWindow&) const = default;
};

// A part of the display that a window of ours covers.
struct CoveredPart {
    PixelRect rect;  // in the display's own coordinates
    uint32_t window = 0;

    bool operator==(const CoveredPart&) const = default;
};

// The parts of `display` (root coordinates) that the shapes of our windows
// in `windows` cover, in stacking order.
std::vector<CoveredPart> coveredByOurs(const std::vector<TopWindow>& windows, const PixelRect& display);

class WindowStack {
public:
    // Asks for shape events of every window it sees.
    WindowStack(xcb_connection_t* connection, uint32_t root, uint32_t ownerPid);
    WindowStack(const WindowStack&) = delete;
    WindowStack& operator=(const WindowStack&) = delete;

    // The windows changed (a child of the root was mapped, unmapped,
    // moved, restacked, reshaped, reparented or destroyed).
    void markStale() { stale_ = true; }
    // `window` was mapped, reparented or destroyed: whose it is is read
    // again when it is next seen.
    void forget(uint32_t window) {
        owned_.erase(window);
        stale_ = true;
    }
    // Reads the windows again when an event said they changed (and the
    // first time). True when it did.
    bool refresh();

    // The viewable top-level windows that have pixels, bottom first.
    const std::vector<TopWindow>& windows() const { return windows_; }
    // The first event number of the Shape extension; 0 without it.
    uint8_t shapeEvent() const { return shapeEvent_; }

private:
    // Each window's shape, given each one's border width.
    void readShapes(const std::vector<int>& borders);

    xcb_connection_t* const connection_;
    const uint32_t root_;
    const WindowOwner owner_;
    uint8_t shapeEvent_ = 0;
    bool hasShape_ = false;
    bool stale_ = true;
    std::vector<TopWindow> windows_;
    // Whether a top-level window is ours, decided when it was first seen
    // viewable; forgotten when it is mapped or reparented again. Windows
    // whose shape events are asked for.
    std::unordered_map<uint32_t, bool> owned_;
    std::unordered_set<uint32_t> shapeWatched_;
};

}  // namespace hollowkit::x11
