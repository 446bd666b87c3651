#include "hollowkit/base/log_limiter.h"

#include <utility>

#include "hollowkit/base/pocket_log.h"

namespace hollowkit {

LogLimiter::LogLimiter(std::string label, Limits limits) : label_(std::move(label)), limits_(limits) {}

bool LogLimiter::admit(uint32_t key, TimePoint now) {
    if (!started_ || now - intervalStart_ >= limits_.interval) {
        flush();
        started_ = true;
        intervalStart_ = now;
        lines_ = 0;
    }
    KeyState& state = keys_[key];
    if (state.lines >= limits_.perKey) {
        return false;
    }
    if (lines_ < limits_.linesPerInterval) {
        ++lines_;
        ++state.lines;
        return true;
    }
    ++leftOutLines_;
    if (state.lastLeftOutSummary != summary_) {
        state.lastLeftOutSummary = summary_;
        ++leftOutKeys_;
    }
    return false;
}

void LogLimiter::flush() {
    if (leftOutLines_ > 0) {
        PocketLog::logf("%s: %lld line(s) of %d key(s) left out (at most %d lines per %g s)", label_.c_str(),
                        static_cast<long long>(leftOutLines_), leftOutKeys_, limits_.linesPerInterval,
                        Seconds(limits_.interval).count());
    }
    leftOutLines_ = 0;
    leftOutKeys_ = 0;
    ++summary_;
}

}  // namespace hollowkit
