#pragma once

// StopFlag: a stop request shared between the thread that asks a worker to
// end and the worker, which checks it at each turn of its loop. Shared by
// reference (or shared_ptr) between the two; any thread.

#include <mutex>

namespace hollowkit {

class StopFlag {
public:
    StopFlag() = default;
    StopFlag(const StopFlag&) = delete;
    StopFlag& operator=(const StopFlag&) = delete;

    void set() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }

    bool isSet() const {
        std::lock_guard lock(mutex_);
        return stopped_;
    }

private:
    mutable std::mutex mutex_;
    bool stopped_ = false;  // guarded by mutex_
};

}  // namespace hollowkit
