#pragma once

// Time sources. Every timestamp in the library is on CLOCK_MONOTONIC
// (std::chrono::steady_clock on Linux); the calendar time (wallNow) is read
// only where a date is shown or put into a name. Tests substitute a
// ManualClock, whose calendar time moves with its virtual monotonic time.

#include <chrono>

namespace hollowkit {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;
using Duration = SteadyClock::duration;
using Seconds = std::chrono::duration<double>;

// Calendar time (CLOCK_REALTIME): may jump when the system time is set.
using WallClock = std::chrono::system_clock;
using WallTime = WallClock::time_point;

// A moment that lies before every real one ("never yet").
inline constexpr TimePoint kDistantPast = TimePoint::min();

class Clock {
public:
    virtual ~Clock() = default;
    // Any thread: every queue and worker of a component reads its clock.
    virtual TimePoint now() const = 0;
    // Any thread. The calendar time, for dates shown or written in names;
    // never for measuring durations.
    virtual WallTime wallNow() const = 0;

    // The process-wide clocks of the system.
    static Clock& system();
};

inline Duration toDuration(double seconds) {
    return std::chrono::duration_cast<Duration>(Seconds(seconds));
}

}  // namespace hollowkit
