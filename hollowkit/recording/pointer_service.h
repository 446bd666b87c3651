#pragma once

// PointerService: where the mouse pointer is, whether the left button is
// down, and which windows lie under it. One backend over X11
// (x11/x11_pointer_service.h); tests use FakePointerService. Used by the
// cursor recorder on the main executor only.

#include <cstdint>
#include <optional>
#include <vector>

namespace hollowkit {

struct PointerState {
    int32_t rootX = 0;  // in the root window: pixels, top-left origin, y downwards
    int32_t rootY = 0;
    bool leftButtonDown = false;
    // The windows under the pointer from the topmost top-level window down to
    // the deepest child, when asked for; empty otherwise.
    std::vector<uint32_t> windows;

    bool operator==(const PointerState&) const = default;
};

class PointerService {
public:
    virtual ~PointerService() = default;

    // The pointer now; nothing when the window system cannot be asked.
    // `withWindows` also walks the windows under it (a few round trips).
    virtual std::optional<PointerState> query(bool withWindows) = 0;
};

}  // namespace hollowkit
