#pragma once

// SerialQueue: one thread that runs posted and timed work in order, the
// library's stand-in for a serial dispatch queue. Each component that blocks
// or works hard owns one. Tasks posted from one thread run in the order they
// were posted; timers run once due, in due order. Destroying the queue drops
// work not yet started and joins the thread; it must not be destroyed from a
// task running on it.

#include <atomic>
#include <condition_variable>
#include <string>
#include <thread>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/timer_queue.h"

namespace hollowkit {

class SerialQueue : public Executor {
public:
    explicit SerialQueue(std::string label, const Clock& clock = Clock::system());
    ~SerialQueue() override;

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(Task task) override;
    TaskId after(Duration delay, Task task) override;
    TaskId every(Duration interval, Task task) override;
    void cancel(TaskId id) override;
    bool isCurrent() const override;
    const Clock& clock() const override { return clock_; }

    // Runs `task` on the queue and waits for it. Refuses (returns false,
    // without running it) when called from the queue's own thread, where
    // waiting would deadlock.
    bool sync(Task task);

    const std::string& label() const { return label_; }

private:
    void run(std::stop_token stop);

    const std::string label_;
    const Clock& clock_;
    Mutex mutex_;
    std::condition_variable_any wake_;
    TimerQueue work_ HK_GUARDED_BY(mutex_);
    uint64_t changes_ HK_GUARDED_BY(mutex_) = 0;  // bumped by every post and timer
    std::atomic<std::thread::id> threadId_;
    std::jthread thread_;  // last: starts after every other field exists
};

}  // namespace hollowkit
