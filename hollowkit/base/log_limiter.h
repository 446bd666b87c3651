#pragma once

// LogLimiter: decides which of many similar events, each with a key, get a
// log line of their own, so that a peer sending endless distinct keys cannot
// flood the log. An event gets its line while its key has had fewer than
// `perKey` lines and the current interval fewer than `linesPerInterval`.
// Lines left out by the interval's budget are counted, and the first event
// after the interval (or flush()) writes one line saying how many: "<label>:
// N line(s) of K key(s) left out (at most L lines per S s)". A key left out
// gets its lines later, in an interval with room. One owner thread; the
// owner passes the time, so virtual time works.

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "hollowkit/base/clock.h"

namespace hollowkit {

class LogLimiter {
public:
    struct Limits {
        int perKey = 3;
        int linesPerInterval = 64;
        Duration interval = std::chrono::seconds(10);
    };

    LogLimiter(std::string label, Limits limits);
    LogLimiter(const LogLimiter&) = delete;
    LogLimiter& operator=(const LogLimiter&) = delete;

    // True when the event of `key` at `now` gets its own line; the caller
    // then writes it. Writes the previous interval's summary first when due.
    bool admit(uint32_t key, TimePoint now);
    // Writes the summary of the current interval now, when it left lines out.
    void flush();

    const Limits& limits() const { return limits_; }

private:
    struct KeyState {
        int lines = 0;
        uint64_t lastLeftOutSummary = 0;  // counted in that summary's keys
    };

    const std::string label_;
    const Limits limits_;
    std::unordered_map<uint32_t, KeyState> keys_;
    bool started_ = false;
    TimePoint intervalStart_;
    uint64_t summary_ = 1;  // numbers the summaries
    int lines_ = 0;
    int64_t leftOutLines_ = 0;
    int leftOutKeys_ = 0;
};

}  // namespace hollowkit
