#include "hollowkit/wireless/stop_gate.h"

namespace hollowkit {

void StopGate::stop() {
    {
        // Set under the gate's mutex so a pause cannot check the flag, miss
        // the set and then sleep through the notification.
        std::lock_guard lock(mutex_);
        flag_.set();
    }
    woken_.notify_all();
}

bool StopGate::pause(Duration span) {
    std::unique_lock lock(mutex_);
    return !woken_.wait_for(lock, span, [this] { return flag_.isSet(); });
}

}  // namespace hollowkit
