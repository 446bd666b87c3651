#pragma once

// ButtonPressSource: every press and release of the pointer's primary
// (left) button anywhere on the desktop, as they happen, for the cursor
// timeline: a sampler held up by a busy machine still learns of a click
// that came and went between two of its samples. The X11 backend
// (x11/x11_button_press_source.h) listens to XInput2 raw button events on a
// connection and thread of its own; tests use FakeButtonPressSource.
// Thread-safe.

#include <cstdint>
#include <optional>
#include <vector>

#include "hollowkit/base/clock.h"

namespace hollowkit {

// A place on the screen in root-window pixels.
struct RootPoint {
    int32_t x = 0;
    int32_t y = 0;

    bool operator==(const RootPoint&) const = default;
};

struct ButtonChange {
    TimePoint time{};   // when it was heard, on CLOCK_MONOTONIC
    bool down = false;  // pressed, else released
    // Where the pointer was when it was heard; nothing when not known.
    std::optional<RootPoint> at;
    // Whether one of the app's own windows (or a window manager's frame
    // around one) was under the pointer then; nothing when not known.
    std::optional<bool> overApp;

    bool operator==(const ButtonChange&) const = default;
};

class ButtonPressSource {
public:
    virtual ~ButtonPressSource() = default;

    // Starts listening; earlier changes are forgotten. False when the
    // button cannot be heard here (the cursor recorder then only samples it).
    virtual bool start() = 0;
    // Stops listening; nothing of the pointer is heard afterwards.
    virtual void stop() = 0;
    // The changes since the last call (or start), oldest first; nothing
    // once the source cannot hear the button any more (the display went).
    virtual std::optional<std::vector<ButtonChange>> takeChanges() = 0;
};

}  // namespace hollowkit
