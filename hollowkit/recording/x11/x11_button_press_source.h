#pragma once

// X11ButtonPressSource: the primary button's presses and releases from
// XInput2 raw button events, selected on the root window for the master
// pointers, on a connection and thread of its own while started
// (X11InputListener). The time an event arrived is kept, where the pointer
// was then, and whether the window under it was one of the owning process's
// (x11::WindowOwner's rule, asked on a connection of that thread's own);
// which button the device has as its primary is asked of the server once,
// at start.
// Thread-safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/recording/button_press_source.h"
#include "hollowkit/recording/x11/x11_input_listener.h"

namespace hollowkit {

class X11ButtonPressSource final : public ButtonPressSource {
public:
    // Changes kept for a reader that does not come (a stalled sampler): the
    // oldest go first.
    static constexpr size_t kMaxKeptChanges = 256;

    // `ownerPid`: the process whose windows count as its own; 0 for this one.
    explicit X11ButtonPressSource(std::string displayName = {}, uint32_t ownerPid = 0);
    ~X11ButtonPressSource() override;

    X11ButtonPressSource(const X11ButtonPressSource&) = delete;
    X11ButtonPressSource& operator=(const X11ButtonPressSource&) = delete;

    bool start() override;
    void stop() override;
    std::optional<std::vector<ButtonChange>> takeChanges() override;

private:
    void note(const x11::EventWatch::Drained& drained, TimePoint arrived, std::optional<bool> overApp);

    const std::string displayName_;
    const uint32_t ownerPid_;
    Mutex controlMutex_;  // serialises start and stop
    std::unique_ptr<X11InputListener> listener_ HK_GUARDED_BY(controlMutex_);

    mutable Mutex mutex_;
    std::vector<ButtonChange> changes_ HK_GUARDED_BY(mutex_);
    bool broken_ HK_GUARDED_BY(mutex_) = false;
};

}  // namespace hollowkit
