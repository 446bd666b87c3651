#pragma once

// ManualExecutor: an Executor on virtual time for tests. Nothing runs until
// the test drives it: runUntilIdle() runs what is ready now, advance() moves
// the clock forward and runs every timer on the way, in due order, each at its
// own moment, so timers of tens of seconds run instantly. Posting is
// thread-safe, so worker threads may hand work to it as to a main executor;
// waitFor() runs that work as it arrives until a condition holds.

#include <condition_variable>
#include <functional>
#include <thread>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/timer_queue.h"
#include "hollowkit/testing/manual_clock.h"

namespace hollowkit {

class ManualExecutor final : public Executor {
public:
    ManualExecutor();

    void post(Task task) override;
    TaskId after(Duration delay, Task task) override;
    TaskId every(Duration interval, Task task) override;
    void cancel(TaskId id) override;
    // True on the thread that made the executor (the test's thread).
    bool isCurrent() const override { return std::this_thread::get_id() == owner_; }
    const Clock& clock() const override { return clock_; }
    ManualClock& manualClock() { return clock_; }

    // Runs ready work (and timers due now) until none is left. Returns the
    // number of tasks run.
    size_t runUntilIdle();
    // Moves virtual time forward by `span`, running each timer at its moment.
    size_t advance(Duration span);
    size_t advanceSeconds(double seconds) { return advance(toDuration(seconds)); }
    // Runs posted work as it arrives (in real time, from other threads) until
    // `done` holds or `realTimeout` passes. Virtual time does not move.
    bool waitFor(const std::function<bool()>& done, Duration realTimeout = std::chrono::seconds(10));

    bool idle();
    // From now on it stands for an executor that is gone, for tests of what
    // outlives the executor's owner: work handed to it is dropped (on the
    // caller's thread) and counted.
    void close();
    // Tasks posted or timed since close().
    size_t lateTasks();
    // Runs the next ready task (or timer due now), for tests that step a
    // queue; false when nothing is ready.
    bool runOne();

private:

    ManualClock clock_;
    const std::thread::id owner_;
    Mutex mutex_;
    std::condition_variable posted_;
    TimerQueue work_ HK_GUARDED_BY(mutex_);
    bool closed_ HK_GUARDED_BY(mutex_) = false;
    size_t lateTasks_ HK_GUARDED_BY(mutex_) = 0;
};

}  // namespace hollowkit
