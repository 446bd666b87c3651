#pragma once

// KeyPressSource: when keys are pressed anywhere on the desktop, for the
// cursor timeline. Only the time of each key-down is kept, never which key.
// The X11 backend (x11/x11_key_press_source.h) listens to XInput2 raw key
// presses on a connection and thread of its own; tests use
// FakeKeyPressSource. Thread-safe.

#include <optional>

#include "hollowkit/base/clock.h"

namespace hollowkit {

class KeyPressSource {
public:
    virtual ~KeyPressSource() = default;

    // Starts listening; earlier key-downs are forgotten. False when key
    // presses cannot be watched here (the timeline then has none).
    virtual bool start() = 0;
    // Stops listening; nothing of the keyboard is watched afterwards.
    virtual void stop() = 0;
    // The time of the latest key-down since start(), on CLOCK_MONOTONIC (the
    // clock of the executor the cursor recorder runs on); nothing yet.
    virtual std::optional<TimePoint> lastKeyDown() const = 0;
};

}  // namespace hollowkit
