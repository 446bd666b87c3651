#include "lumenhollow/model/reconnect_backoff.h"

#include <algorithm>

namespace lumenhollow {

void ReconnectBackoff::cameraStarted(hollowkit::TimePoint now) {
    startedAt_ = now;
    ran_ = false;
}

hollowkit::Duration ReconnectBackoff::cameraWentOff(hollowkit::TimePoint now) {
    if (ran_ || now - startedAt_ >= kQuickFailure) {
        quickFailures_ = 0;
        return hollowkit::Duration::zero();
    }
    ++quickFailures_;
    if (quickFailures_ == 1) return hollowkit::Duration::zero();
    // Doubled for each failure after the second; the loop stops at the
    // limit, so a long run of failures never overflows.
    hollowkit::Duration delay = kFirstDelay;
    for (int i = 2; i < quickFailures_ && delay < kLongestDelay; ++i) delay *= 2;
    return std::min(delay, kLongestDelay);
}

}  // namespace lumenhollow
