#include "hollowkit/base/serial_queue.h"

#include <cassert>
#include <future>

#include "hollowkit/base/thread_name.h"

namespace hollowkit {

SerialQueue::SerialQueue(std::string label, const Clock& clock)
    : label_(std::move(label)),
      clock_(clock),
      thread_([this](std::stop_token stop) { run(stop); }) {}

SerialQueue::~SerialQueue() { stop(); }

void SerialQueue::stop() {
    assert(!isCurrent() && "a SerialQueue cannot be stopped or destroyed from its own thread");
    {
        MutexLock lock(mutex_);
        stopped_ = true;
    }
    stopMarked();
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

// Work refused by a stopped queue is released after the lock: what it holds
// may post again as it goes.
void SerialQueue::post(Task task) {
    Task refused;
    {
        MutexLock lock(mutex_);
        if (stopped_) {
            refused = std::move(task);
            return;
        }
        work_.post(std::move(task));
        ++changes_;
    }
    wake_.notify_one();
}

TaskId SerialQueue::after(Duration delay, Task task) {
    return schedule(delay, Duration::zero(), std::move(task));
}

TaskId SerialQueue::every(Duration interval, Task task) {
    assert(interval > Duration::zero());
    return schedule(interval, interval, std::move(task));
}

TaskId SerialQueue::schedule(Duration delay, Duration interval, Task task) {
    Task refused;
    TaskId id;
    {
        MutexLock lock(mutex_);
        if (stopped_) {
            refused = std::move(task);
            return 0;
        }
        id = work_.schedule(clock_.now() + delay, interval, std::move(task));
        ++changes_;
    }
    wake_.notify_one();
    return id;
}

void SerialQueue::cancel(TaskId id) {
    MutexLock lock(mutex_);
    work_.cancel(id);
}

bool SerialQueue::isCurrent() const {
    return threadId_.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

bool SerialQueue::sync(Task task) {
    if (isCurrent()) return false;
    std::promise<void> done;
    auto finished = done.get_future();
    {
        MutexLock lock(mutex_);
        if (stopped_) return false;
        work_.post([&] {
            task();
            done.set_value();
        });
        ++changes_;
    }
    wake_.notify_one();
    finished.wait();
    return true;
}

void SerialQueue::run(std::stop_token stop) {
    threadId_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    enterLibraryThread(label_);
    MutexLock lock(mutex_);
    // Stopped is read under the lock stop() sets it under: the thread's own
    // stop request comes a moment later, and a task queued behind the running
    // one must not slip in between.
    while (!stopped_ && !stop.stop_requested()) {
        work_.collectDue(clock_.now());
        if (auto task = work_.takeReady()) {
            lock.unlock();
            (*task)();
            lock.lock();
            continue;
        }
        // Sleep until the next timer is due or new work (perhaps an earlier
        // timer) arrives. A non-system clock is waited for in real time.
        uint64_t seen = changes_;
        auto changed = [&]() HK_REQUIRES(mutex_) { return changes_ != seen; };
        if (auto due = work_.nextDue()) {
            lock.waitFor(wake_, stop, *due - clock_.now(), changed);
        } else {
            lock.wait(wake_, stop, changed);
        }
    }
    work_.clear();  // drop captured state on this thread, before the owner goes
}

}  // namespace hollowkit
