#pragma once

// ActivatingPress: tells the press that only brings an inactive window
// forward from a press on a window already in front. An ICCCM window
// manager that focuses on click hands the keyboard over with WM_TAKE_FOCUS,
// stamped with the server time of the press that caused it, and then passes
// the press on; the window also becomes active. Openbox sends WM_TAKE_FOCUS
// again for a click on the window in front, without an activation, so only
// a press whose time is that of a take-focus that came with an activation
// is the activating one. Openbox may also answer Qt's own request to be
// activated with a second take-focus, which can come between the first and
// the press it belongs to: every take-focus since the last press is kept,
// and the press is told by the one whose time it has. Where the window
// manager sends no WM_TAKE_FOCUS, no press is. Plain C++; owned by the video
// surface, GUI thread only.

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumenhollow {

class ActivatingPress {
public:
    // The window became active (the keyboard focus came to it), however it
    // was made so (a click, a key, a program). Window managers send the
    // take-focus after focusing the window (openbox) or before it, but both
    // come before the press.
    void windowActivated();
    // The window lost the keyboard focus: a take-focus from before is forgotten.
    void windowDeactivated();
    // The window manager's WM_TAKE_FOCUS for this window, at `serverTime`.
    void takeFocus(uint32_t serverTime);
    // A mouse press on the window at `serverTime`, any button. True when it
    // is the press that activated the window: it should do nothing else.
    bool pressed(uint32_t serverTime);

private:
    struct TakeFocus {
        uint32_t serverTime = 0;
        bool activated = false;
    };

    // A few are plenty: two come with one click at most.
    static constexpr size_t kKept = 4;

    // The take-focuses no press has answered yet, the latest last; when
    // more come, the oldest go.
    std::array<TakeFocus, kKept> waiting_{};
    size_t waitingCount_ = 0;
    // An activation that came before its take-focus.
    bool activatedAhead_ = false;
};

}  // namespace lumenhollow
