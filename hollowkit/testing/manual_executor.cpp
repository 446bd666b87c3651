#include "hollowkit/testing/manual_executor.h"

namespace hollowkit {

ManualExecutor::ManualExecutor() : owner_(std::this_thread::get_id()) {}

// Work refused by a closed executor is released after the lock (a
// parameter outlives the function's locals): what it holds may post again.
void ManualExecutor::post(Task task) {
    {
        MutexLock lock(mutex_);
        if (closed_) {
            ++lateTasks_;
        } else {
            work_.post(std::move(task));
        }
    }
    posted_.notify_all();
}

TaskId ManualExecutor::after(Duration delay, Task task) {
    MutexLock lock(mutex_);
    if (closed_) {
        ++lateTasks_;
        return 0;
    }
    return work_.schedule(clock_.now() + delay, Duration::zero(), std::move(task));
}

TaskId ManualExecutor::every(Duration interval, Task task) {
    MutexLock lock(mutex_);
    if (closed_) {
        ++lateTasks_;
        return 0;
    }
    return work_.schedule(clock_.now() + interval, interval, std::move(task));
}

void ManualExecutor::close() {
    MutexLock lock(mutex_);
    closed_ = true;
}

size_t ManualExecutor::lateTasks() {
    MutexLock lock(mutex_);
    return lateTasks_;
}

void ManualExecutor::cancel(TaskId id) {
    MutexLock lock(mutex_);
    work_.cancel(id);
}

bool ManualExecutor::runOne() {
    std::optional<Task> task;
    {
        MutexLock lock(mutex_);
        work_.collectDue(clock_.now());
        task = work_.takeReady();
    }
    if (!task) return false;
    (*task)();
    return true;
}

size_t ManualExecutor::runUntilIdle() {
    size_t count = 0;
    while (runOne()) ++count;
    return count;
}

size_t ManualExecutor::advance(Duration span) {
    const TimePoint target = clock_.now() + span;
    size_t count = runUntilIdle();
    for (;;) {
        std::optional<TimePoint> due;
        {
            MutexLock lock(mutex_);
            due = work_.nextDue();
        }
        if (!due || *due > target) break;
        if (*due > clock_.now()) clock_.set(*due);
        count += runUntilIdle();
    }
    clock_.set(target);
    return count + runUntilIdle();
}

bool ManualExecutor::waitFor(const std::function<bool()>& done, Duration realTimeout) {
    const auto deadline = SteadyClock::now() + realTimeout;
    for (;;) {
        runUntilIdle();
        if (done()) return true;
        if (SteadyClock::now() >= deadline) return false;
        // Wake on a post, or shortly, since `done` may watch state that other
        // threads change without posting here.
        MutexLock lock(mutex_);
        if (!work_.hasReady()) lock.waitFor(posted_, std::chrono::milliseconds(2));
    }
}

bool ManualExecutor::idle() {
    MutexLock lock(mutex_);
    return !work_.hasReady();
}

}  // namespace hollowkit
