#include "hollowkit/base/serial_queue.h"

#include <cassert>
#include <future>

#include "hollowkit/base/thread_name.h"

namespace hollowkit {

SerialQueue::SerialQueue(std::string label, const Clock& clock)
    : label_(std::move(label)),
      clock_(clock),
      thread_([this](std::stop_token stop) { run(stop); }) {}

SerialQueue::~SerialQueue() {
    assert(!isCurrent() && "a SerialQueue cannot be destroyed from its own thread");
    thread_.request_stop();
    thread_.join();
}

void SerialQueue::post(Task task) {
    {
        MutexLock lock(mutex_);
        work_.post(std::move(task));
        ++changes_;
    }
    wake_.notify_one();
}

TaskId SerialQueue::after(Duration delay, Task task) {
    TaskId id;
    {
        MutexLock lock(mutex_);
        id = work_.schedule(clock_.now() + delay, Duration::zero(), std::move(task));
        ++changes_;
    }
    wake_.notify_one();
    return id;
}

TaskId SerialQueue::every(Duration interval, Task task) {
    assert(interval > Duration::zero());
    TaskId id;
    {
        MutexLock lock(mutex_);
        id = work_.schedule(clock_.now() + interval, interval, std::move(task));
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
    post([&] {
        task();
        done.set_value();
    });
    finished.wait();
    return true;
}

void SerialQueue::run(std::stop_token stop) {
    threadId_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    enterLibraryThread(label_);
    MutexLock lock(mutex_);
    while (!stop.stop_requested()) {
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
