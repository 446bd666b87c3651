#pragma once

// ManualClock: a Clock that only moves when a test moves it. It starts at a
// fixed moment well after the epoch, so "distant past" values stay earlier.

#include <atomic>

#include "hollowkit/base/clock.h"

namespace hollowkit {

class ManualClock final : public Clock {
public:
    static constexpr Duration kStart = std::chrono::hours(1);

    TimePoint now() const override { return TimePoint(Duration(ticks_.load())); }
    void advance(Duration by) { ticks_.fetch_add(by.count()); }
    void advanceSeconds(double seconds) { advance(toDuration(seconds)); }
    void set(TimePoint to) { ticks_.store(to.time_since_epoch().count()); }

private:
    std::atomic<Duration::rep> ticks_{kStart.count()};
};

}  // namespace hollowkit
