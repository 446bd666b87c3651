#pragma once

// StopGate: the wireless camera's stop flag together with a way to wake the
// pauses of its worker threads (the pause before a link restart, the pauses
// of the Wi-Fi join, the discovery's waits), so that a stop ends them at
// once instead of after their full length. Workers that only poll (the
// live-view session) read flag(). Any thread.

#include <condition_variable>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/stop_flag.h"

namespace hollowkit {

class StopGate {
public:
    StopGate() = default;
    StopGate(const StopGate&) = delete;
    StopGate& operator=(const StopGate&) = delete;

    // Sets the flag (for good) and wakes every pause.
    void stop();
    bool stopped() const { return flag_.isSet(); }
    const StopFlag& flag() const { return flag_; }

    // Waits `span` of real time; false when the gate was stopped before or
    // during the wait.
    bool pause(Duration span);

private:
    StopFlag flag_;
    Mutex mutex_;
    std::condition_variable woken_;
};

}  // namespace hollowkit
