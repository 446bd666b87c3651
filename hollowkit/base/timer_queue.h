#pragma once

// TimerQueue: the ready list and the timers of one serial executor, without
// any thread of its own. SerialQueue and ManualExecutor both keep their work
// here and differ only in who runs it and which clock they read. Not
// thread-safe: the owner guards it with its own mutex.

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "hollowkit/base/executor.h"

namespace hollowkit {

class TimerQueue {
public:
    void post(Task task) { ready_.push_back(Ready{0, std::make_shared<Task>(std::move(task))}); }
    TaskId schedule(TimePoint due, Duration interval, Task task);
    void cancel(TaskId id);

    // Moves every timer due at `now` to the ready list, in due order.
    void collectDue(TimePoint now);
    // The next ready task, if any. A repeating timer is re-armed when taken.
    std::optional<Task> takeReady();

    bool hasReady() const { return !ready_.empty(); }
    std::optional<TimePoint> nextDue() const;
    bool empty() const { return ready_.empty() && timers_.empty(); }
    void clear();

private:
    struct Key {
        TimePoint due;
        uint64_t order;
        auto operator<=>(const Key&) const = default;
    };
    struct Timer {
        TaskId id;
        Duration interval;  // zero for one-shot timers
        std::shared_ptr<Task> task;
    };

    struct Ready {
        TaskId id;  // 0 for plain posts
        std::shared_ptr<Task> task;
    };

    std::deque<Ready> ready_;
    std::unordered_set<TaskId> collected_;  // timers moved to ready_ and not yet run
    std::map<Key, Timer> timers_;
    std::unordered_map<TaskId, Key> index_;
    uint64_t nextOrder_ = 0;
    TaskId nextId_ = 1;
};

}  // namespace hollowkit
