#pragma once

// BoundedQueue: a first-in first-out hand-over between one producing and one
// consuming thread that holds at most `capacity` items, so a fast producer
// waits for a slow consumer instead of running ahead (back-pressure).
//
// close() ends the hand-over from either side: pushes fail from then on and
// wake at once; pops still take what is left, then return nothing. The
// producer closes when it has no more; the consumer closes when it gives up,
// which frees a producer waiting on a full queue. Any thread.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <optional>
#include <utility>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/thread_annotations.h"

namespace hollowkit {

template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(size_t capacity) : capacity_(std::max<size_t>(1, capacity)) {}
    BoundedQueue(const BoundedQueue&) = delete;
    BoundedQueue& operator=(const BoundedQueue&) = delete;

    // Waits while the queue is full. False (the item dropped) once closed.
    bool push(T item) {
        {
            MutexLock lock(mutex_);
            lock.wait(notFull_, [&]() HK_REQUIRES(mutex_) { return closed_ || items_.size() < capacity_; });
            if (closed_) return false;
            items_.push_back(std::move(item));
        }
        notEmpty_.notify_one();
        return true;
    }

    // Waits while the queue is empty and open. Nothing once it is closed and
    // empty.
    std::optional<T> pop() {
        std::optional<T> item;
        {
            MutexLock lock(mutex_);
            lock.wait(notEmpty_, [&]() HK_REQUIRES(mutex_) { return closed_ || !items_.empty(); });
            if (items_.empty()) return std::nullopt;
            item.emplace(std::move(items_.front()));
            items_.pop_front();
        }
        notFull_.notify_one();
        return item;
    }

    void close() {
        {
            MutexLock lock(mutex_);
            closed_ = true;
        }
        notFull_.notify_all();
        notEmpty_.notify_all();
    }

private:
    const size_t capacity_;
    Mutex mutex_;
    std::condition_variable notFull_;
    std::condition_variable notEmpty_;
    std::deque<T> items_ HK_GUARDED_BY(mutex_);
    bool closed_ HK_GUARDED_BY(mutex_) = false;
};

}  // namespace hollowkit
