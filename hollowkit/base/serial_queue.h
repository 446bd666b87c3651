#pragma once

// SerialQueue: one thread that runs posted and timed work in order, the
// library's stand-in for a serial dispatch queue. Each component that blocks
// or works hard owns one. Tasks posted from one thread run in the order they
// were posted; timers run once due, in due order. Destroying the queue (or
// stopping it first) drops work not yet started and joins the thread;
// neither may be done from a task running on it.

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
    // waiting would deadlock, or once the queue is stopped.
    bool sync(Task task);

    // Waits for the task running now, drops the work not yet started and
    // ends the thread; work posted afterwards is dropped at once. For an
    // owner whose fields must outlive every task but go before the queue.
    // Not from the queue's own thread.
    void stop();

    const std::string& label() const { return label_; }

protected:
    // Called by stop() on its caller's thread once the queue is marked
    // stopped and before its thread is asked to end: a test's way to hold
    // stop() at the moment a task queued behind the running one must still
    // be dropped. Does nothing here.
    virtual void stopMarked() {}

private:
    void run(std::stop_token stop);
    TaskId schedule(Duration delay, Duration interval, Task task);

    const std::string label_;
    const Clock& clock_;
    Mutex mutex_;
    std::condition_variable_any wake_;
    TimerQueue work_ HK_GUARDED_BY(mutex_);
    uint64_t changes_ HK_GUARDED_BY(mutex_) = 0;  // bumped by every post and timer
    bool stopped_ HK_GUARDED_BY(mutex_) = false;
    std::atomic<std::thread::id> threadId_;
    std::jthread thread_;  // last: starts after every other field exists
};

}  // namespace hollowkit
