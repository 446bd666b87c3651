#pragma once

// Mutex and MutexLock: std::mutex and std::unique_lock with the annotations
// clang's thread-safety analysis checks (see thread_annotations.h). They cost
// nothing over the std:: types they wrap.

#include <mutex>
#include <utility>

#include "hollowkit/base/thread_annotations.h"

namespace hollowkit {

// A std::mutex the analysis knows about. Leaf and non-recursive, like the
// one it wraps.
class HK_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() HK_ACQUIRE() { mutex_.lock(); }
    void unlock() HK_RELEASE() { mutex_.unlock(); }
    bool try_lock() HK_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    // The wrapped mutex, for an API that wants the std:: type. What is done
    // with it is not checked.
    std::mutex& native() HK_RETURN_CAPABILITY(this) { return mutex_; }

private:
    std::mutex mutex_;
};

// Holds a Mutex for its scope, like std::unique_lock: it may be released
// early and taken again, and it waits on a condition variable (either
// std::condition_variable or std::condition_variable_any, with or without a
// predicate, stop token or deadline), which gives the lock up while asleep
// and holds it again on return.
class HK_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) HK_ACQUIRE(mutex) : lock_(mutex.native()) {}
    // Takes over a lock already held (after a successful try_lock()).
    MutexLock(Mutex& mutex, std::adopt_lock_t) HK_REQUIRES(mutex) : lock_(mutex.native(), std::adopt_lock) {}
    ~MutexLock() HK_RELEASE() {}

    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void unlock() HK_RELEASE() { lock_.unlock(); }
    void lock() HK_ACQUIRE() { lock_.lock(); }

    template <typename ConditionVariable, typename... Args>
    decltype(auto) wait(ConditionVariable& cv, Args&&... args) {
        return cv.wait(lock_, std::forward<Args>(args)...);
    }
    template <typename ConditionVariable, typename... Args>
    decltype(auto) waitFor(ConditionVariable& cv, Args&&... args) {
        return cv.wait_for(lock_, std::forward<Args>(args)...);
    }
    template <typename ConditionVariable, typename... Args>
    decltype(auto) waitUntil(ConditionVariable& cv, Args&&... args) {
        return cv.wait_until(lock_, std::forward<Args>(args)...);
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace hollowkit
