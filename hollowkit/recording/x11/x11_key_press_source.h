#pragma once

// X11KeyPressSource: key-down times from XInput2 raw key presses, selected
// on the root window for the master keyboards, on a connection and thread
// of its own while started (X11InputListener). Only the time an event
// arrived is kept; key codes are never read or stored. Thread-safe.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/mutex.h"
#include "hollowkit/recording/key_press_source.h"
#include "hollowkit/recording/x11/x11_input_listener.h"

namespace hollowkit {

class X11KeyPressSource final : public KeyPressSource {
public:
    explicit X11KeyPressSource(std::string displayName = {});
    ~X11KeyPressSource() override;

    X11KeyPressSource(const X11KeyPressSource&) = delete;
    X11KeyPressSource& operator=(const X11KeyPressSource&) = delete;

    bool start() override;
    void stop() override;
    std::optional<TimePoint> lastKeyDown() const override;

    // How many key-downs arrived since start(); for tests.
    uint64_t keyDownCount() const { return count_.load(); }

private:
    void noteKeyDown(TimePoint time);

    const std::string displayName_;
    Mutex controlMutex_;  // serialises start and stop
    std::unique_ptr<X11InputListener> listener_ HK_GUARDED_BY(controlMutex_);

    mutable Mutex mutex_;
    std::optional<TimePoint> lastKeyDown_ HK_GUARDED_BY(mutex_);
    std::atomic<uint64_t> count_{0};
};

}  // namespace hollowkit
