#pragma once

// PowerAssertion: keeps the computer from going to sleep or blanking the
// display while something long runs (a recording, a take, a composition).
// begin() hands out a PowerActivity; the system may sleep again once every
// activity has ended. Keeping the system awake is a courtesy: when it cannot
// be done the work goes on, and the implementation says why in the log.
//
// begin() and PowerActivity::end() never block; any thread.

#include <functional>
#include <string>
#include <utility>

namespace lumenhollow {

// One held assertion. Ends when end() is called or the activity is
// destroyed, whichever comes first, exactly once. Move-only.
class PowerActivity {
public:
    PowerActivity() = default;
    explicit PowerActivity(std::function<void()> end) : end_(std::move(end)) {}
    ~PowerActivity() { end(); }

    PowerActivity(PowerActivity&& other) noexcept : end_(std::exchange(other.end_, nullptr)) {}
    PowerActivity& operator=(PowerActivity&& other) noexcept {
        if (this != &other) {
            end();
            end_ = std::exchange(other.end_, nullptr);
        }
        return *this;
    }
    PowerActivity(const PowerActivity&) = delete;
    PowerActivity& operator=(const PowerActivity&) = delete;

    void end() {
        if (auto end = std::exchange(end_, nullptr)) end();
    }
    // True until it has ended.
    bool active() const { return static_cast<bool>(end_); }

private:
    std::function<void()> end_;
};

class PowerAssertion {
public:
    virtual ~PowerAssertion() = default;

    // Starts keeping the system awake for `reason` (shown by desktops that
    // list what inhibits sleep, e.g. "Recording video").
    virtual PowerActivity begin(const std::string& reason) = 0;
};

}  // namespace lumenhollow
