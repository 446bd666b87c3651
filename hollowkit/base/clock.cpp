#include "hollowkit/base/clock.h"

namespace hollowkit {
namespace {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return SteadyClock::now(); }
    WallTime wallNow() const override { return WallClock::now(); }
};

}  // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}

}  // namespace hollowkit
