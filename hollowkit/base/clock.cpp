#include "hollowkit/base/clock.h"

namespace hollowkit {
namespace {

class MonotonicClock final : public Clock {
public:
    TimePoint now() const override { return SteadyClock::now(); }
};

}  // namespace

Clock& Clock::system() {
    static MonotonicClock clock;
    return clock;
}

}  // namespace hollowkit
