#pragma once

// Time source. Every timestamp in the library is on CLOCK_MONOTONIC
// (std::chrono::steady_clock on Linux); tests substitute a ManualClock.

#include <chrono>

namespace hollowkit {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;
using Duration = SteadyClock::duration;
using Seconds = std::chrono::duration<double>;

// A moment that lies before every real one ("never yet").
inline constexpr TimePoint kDistantPast = TimePoint::min();

class Clock {
public:
    virtual ~Clock() = default;
    // Any thread: every queue and worker of a component reads its clock.
    virtual TimePoint now() const = 0;

    // The process-wide monotonic clock.
    static Clock& system();
};

inline Duration toDuration(double seconds) {
    return std::chrono::duration_cast<Duration>(Seconds(seconds));
}

}  // namespace hollowkit
