#include "lumenhollow/platform/instance_lock.h"

namespace lumenhollow {

InstanceClaim claimInstance(InstanceLock& lock, const hollowkit::Clock& clock, std::optional<int> relaunchedFrom,
                            hollowkit::Duration wait) {
    const hollowkit::TimePoint end = clock.now() + wait;
    for (;;) {
        if (lock.tryTake()) return InstanceClaim::run;
        // The program that relaunched this one is ending: it would say it
        // comes forward, then be gone.
        const bool previousRuns = relaunchedFrom && lock.processRunning(*relaunchedFrom);
        // A holder that does not answer is starting (it answers once its
        // window is made) or ending (it answers no more): either way the
        // next round finds out.
        if (!previousRuns && lock.askHolderToComeForward()) return InstanceClaim::handedOver;
        if (clock.now() >= end) return InstanceClaim::busy;
        lock.pause();
    }
}

}  // namespace lumenhollow
