#include "hollowkit/base/timer_queue.h"

#include <memory>

namespace hollowkit {

TaskId TimerQueue::schedule(TimePoint due, Duration interval, Task task) {
    TaskId id = nextId_++;
    Key key{due, nextOrder_++};
    timers_.emplace(key, Timer{id, interval, std::make_shared<Task>(std::move(task))});
    index_.emplace(id, key);
    return id;
}

void TimerQueue::cancel(TaskId id) {
    collected_.erase(id);
    auto it = index_.find(id);
    if (it == index_.end()) return;
    timers_.erase(it->second);
    index_.erase(it);
}

void TimerQueue::collectDue(TimePoint now) {
    while (!timers_.empty() && timers_.begin()->first.due <= now) {
        auto node = timers_.extract(timers_.begin());
        Key key = node.key();
        Timer timer = std::move(node.mapped());
        if (timer.interval > Duration::zero()) {
            // Re-arm from the planned time so a repeating timer does not drift;
            // after a long stall it resumes one interval from now instead of
            // firing a burst of missed runs.
            TimePoint next = key.due + timer.interval;
            if (next <= now) next = now + timer.interval;
            Key nextKey{next, nextOrder_++};
            timers_.emplace(nextKey, Timer{timer.id, timer.interval, timer.task});
            index_[timer.id] = nextKey;
        } else {
            index_.erase(timer.id);
        }
        collected_.insert(timer.id);
        ready_.push_back(Ready{timer.id, std::move(timer.task)});
    }
}

std::optional<Task> TimerQueue::takeReady() {
    while (!ready_.empty()) {
        Ready entry = std::move(ready_.front());
        ready_.pop_front();
        // A timer cancelled after it fell due but before it ran stays silent.
        if (entry.id != 0 && collected_.erase(entry.id) == 0) continue;
        if (entry.id == 0) return std::move(*entry.task);
        return Task([task = std::move(entry.task)] { (*task)(); });
    }
    return std::nullopt;
}

std::optional<TimePoint> TimerQueue::nextDue() const {
    if (timers_.empty()) return std::nullopt;
    return timers_.begin()->first.due;
}

void TimerQueue::clear() {
    ready_.clear();
    collected_.clear();
    timers_.clear();
    index_.clear();
}

}  // namespace hollowkit
