#include "lumenhollow/platform/instance_lock.h"

#include <algorithm>

namespace lumenhollow {

InstanceClaim claimInstance(InstanceLock& lock, const hollowkit::Clock& clock, std::optional<int> relaunchedFrom,
                            const InstanceWaits& waits) {
    const hollowkit::TimePoint relaunchEnd = clock.now() + waits.relaunch;
    std::optional<hollowkit::TimePoint> answerEnd;
    for (;;) {
        if (lock.tryTake()) return InstanceClaim::run;
        const hollowkit::TimePoint now = clock.now();
        // The program that relaunched this one is ending: it would say it
        // comes forward, then be gone.
        if (relaunchedFrom && lock.heldBy(*relaunchedFrom)) {
            if (now >= relaunchEnd) return InstanceClaim::ending;
        } else {
            if (!answerEnd) answerEnd = now + waits.answer;
            const hollowkit::Duration left = std::max<hollowkit::Duration>(*answerEnd - now, hollowkit::Duration{});
            // A holder that refuses is ending (it lets go of the lock soon);
            // one that cannot be reached may have only just taken the lock:
            // the next round finds out. One that took the request and said
            // nothing does not run.
            const HolderReply reply = lock.askHolderToComeForward(left);
            if (reply == HolderReply::cameForward) return InstanceClaim::handedOver;
            if (reply == HolderReply::interrupted) return InstanceClaim::interrupted;
            if (clock.now() >= *answerEnd) {
                return reply == HolderReply::refused ? InstanceClaim::ending : InstanceClaim::silent;
            }
        }
        if (!lock.pause()) return InstanceClaim::interrupted;
    }
}

}  // namespace lumenhollow
