#include "lumenhollow/testing/fake_power_assertion.h"

namespace lumenhollow {

PowerActivity FakePowerAssertion::begin(const std::string& reason) {
    {
        std::lock_guard guard(mutex_);
        reasons_.push_back(reason);
    }
    // The fake must outlive its activities, as any PowerAssertion.
    return PowerActivity([this] {
        std::lock_guard guard(mutex_);
        ++ended_;
    });
}

int FakePowerAssertion::begun() const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(reasons_.size());
}

int FakePowerAssertion::ended() const {
    std::lock_guard guard(mutex_);
    return ended_;
}

std::vector<std::string> FakePowerAssertion::reasons() const {
    std::lock_guard guard(mutex_);
    return reasons_;
}

}  // namespace lumenhollow
