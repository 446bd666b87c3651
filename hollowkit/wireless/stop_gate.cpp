#include "hollowkit/wireless/stop_gate.h"

namespace hollowkit {

void StopGate::stop() {
    {
        // Set under the gate's mutex so a pause cannot check the flag, miss
        // the set and then sleep through the notification.
        MutexLock lock(mutex_);
        flag_.set();
    }
    woken_.notify_all();
}

bool StopGate::pause(Duration span) {
    MutexLock lock(mutex_);
    return !lock.waitFor(woken_, span, [this] { return flag_.isSet(); });
}

}  // namespace hollowkit
