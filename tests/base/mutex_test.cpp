#include "hollowkit/base/mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <stop_token>
#include <thread>

namespace hollowkit {
namespace {

constexpr auto kGenerous = std::chrono::seconds(10);

// Whether another thread can take `mutex` right now.
bool freeElsewhere(Mutex& mutex) {
    return std::async(std::launch::async, [&] {
               if (!mutex.try_lock()) return false;
               mutex.unlock();
               return true;
           }).get();
}

TEST(MutexLockTest, HoldsUntilReleasedAndTakesAgain) {
    Mutex mutex;
    MutexLock lock(mutex);
    EXPECT_FALSE(freeElsewhere(mutex));
    lock.unlock();
    EXPECT_TRUE(freeElsewhere(mutex));
    lock.lock();
    EXPECT_FALSE(freeElsewhere(mutex));
}

TEST(MutexLockTest, ReleasesOnScopeExitAfterRelock) {
    Mutex mutex;
    {
        MutexLock lock(mutex);
        lock.unlock();
        lock.lock();
    }
    EXPECT_TRUE(freeElsewhere(mutex));
}

// The waiter must give the lock up while asleep, or the setter below could
// never take it, and must hold it again once woken.
template <typename ConditionVariable>
void waitsWithLockGivenUp() {
    Mutex mutex;
    ConditionVariable changed;
    bool ready = false;  // guarded by mutex

    std::thread setter([&] {
        MutexLock lock(mutex);
        ready = true;
        changed.notify_all();
    });
    MutexLock lock(mutex);
    const bool woke = lock.waitFor(changed, kGenerous, [&] { return ready; });
    EXPECT_TRUE(woke);
    EXPECT_FALSE(freeElsewhere(mutex));
    lock.unlock();
    setter.join();
}

TEST(MutexLockTest, WaitsOnEitherConditionVariable) {
    waitsWithLockGivenUp<std::condition_variable>();
    waitsWithLockGivenUp<std::condition_variable_any>();
}

TEST(MutexLockTest, StopRequestEndsAWaitWithoutTheCondition) {
    Mutex mutex;
    std::condition_variable_any changed;
    std::stop_source stop;
    std::thread stopper([&] { stop.request_stop(); });
    MutexLock lock(mutex);
    // No deadline: if the stop did not wake it, the test would hang and fail
    // on the suite's timeout.
    EXPECT_FALSE(lock.wait(changed, stop.get_token(), [] { return false; }));
    EXPECT_FALSE(freeElsewhere(mutex));
    lock.unlock();
    stopper.join();
}

}  // namespace
}  // namespace hollowkit
