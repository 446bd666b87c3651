#pragma once

// ManualClock: a Clock that only moves when a test moves it. It starts at a
// fixed moment well after the epoch, so "distant past" values stay earlier.
// Its calendar time starts at kWallStart and moves with the monotonic time;
// setWall() jumps it (as setting the system time would) without moving the
// monotonic time.

#include <atomic>

#include "hollowkit/base/clock.h"

namespace hollowkit {

class ManualClock final : public Clock {
public:
    static constexpr Duration kStart = std::chrono::hours(1);
    // 2024-05-01 12:00:00 UTC.
    static constexpr WallTime kWallStart{std::chrono::sys_days(std::chrono::year(2024) / 5 / 1) +
                                         std::chrono::hours(12)};

    TimePoint now() const override { return TimePoint(Duration(ticks_.load())); }
    WallTime wallNow() const override {
        return kWallStart + std::chrono::duration_cast<WallClock::duration>(
                                Duration(ticks_.load() + wallOffset_.load() - kStart.count()));
    }

    void advance(Duration by) { ticks_.fetch_add(by.count()); }
    void advanceSeconds(double seconds) { advance(toDuration(seconds)); }
    // Moves both times by the same step.
    void set(TimePoint to) { ticks_.store(to.time_since_epoch().count()); }
    // The calendar time reads `to` now and moves on from there.
    void setWall(WallTime to) {
        const Duration fromStart = std::chrono::duration_cast<Duration>(to - kWallStart);
        wallOffset_.store(fromStart.count() - (ticks_.load() - kStart.count()));
    }

private:
    std::atomic<Duration::rep> ticks_{kStart.count()};
    // Calendar minus monotonic time, relative to the two starts.
    std::atomic<Duration::rep> wallOffset_{0};
};

}  // namespace hollowkit
