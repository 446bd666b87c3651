#pragma once

// FakePowerAssertion: a PowerAssertion for tests that holds nothing and
// counts: the activities begun (with their reasons), ended, and still
// active. The balance is what matters: every begin ends once. Any thread.

#include <mutex>
#include <string>
#include <vector>

#include "lumenhollow/platform/power_assertion.h"

namespace lumenhollow {

class FakePowerAssertion final : public PowerAssertion {
public:
    PowerActivity begin(const std::string& reason) override;

    int begun() const;
    int ended() const;
    int active() const { return begun() - ended(); }
    std::vector<std::string> reasons() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> reasons_;  // guarded by mutex_
    int ended_ = 0;                     // guarded by mutex_
};

}  // namespace lumenhollow
