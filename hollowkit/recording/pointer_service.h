#pragma once

// PointerService: where the mouse pointer is, whether the left button is
// down, and whether the window under it is one of this process's. One
// backend over X11 (x11/x11_pointer_service.h); tests use
// FakePointerService. Used by the cursor recorder on the main executor only.

#include <cstdint>
#include <optional>

namespace hollowkit {

struct PointerState {
    int32_t rootX = 0;  // in the root window: pixels, top-left origin, y downwards
    int32_t rootY = 0;
    bool leftButtonDown = false;
    // The topmost top-level window under the pointer belongs to this
    // process by the rule the screen capture leaves its windows out by: a
    // window manager's frame, title bar included, counts with the window it
    // holds.
    bool overOwnWindow = false;

    bool operator==(const PointerState&) const = default;
};

class PointerService {
public:
    virtual ~PointerService() = default;

    // The pointer now; nothing when the window system cannot be asked.
    virtual std::optional<PointerState> query() = 0;
};

}  // namespace hollowkit
