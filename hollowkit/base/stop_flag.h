#pragma once

// StopFlag: a stop request shared between the thread that asks a worker to
// end and the worker, which checks it at each turn of its loop. Shared by
// reference (or shared_ptr) between the two; any thread.

#include "hollowkit/base/mutex.h"

namespace hollowkit {

class StopFlag {
public:
    StopFlag() = default;
    StopFlag(const StopFlag&) = delete;
    StopFlag& operator=(const StopFlag&) = delete;

    void set() {
        MutexLock lock(mutex_);
        stopped_ = true;
    }

    bool isSet() const {
        MutexLock lock(mutex_);
        return stopped_;
    }

private:
    mutable Mutex mutex_;
    bool stopped_ HK_GUARDED_BY(mutex_) = false;
};

}  // namespace hollowkit
