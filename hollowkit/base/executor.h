#pragma once

// Executor: somewhere to run work later, one task at a time, in order.
// "The main queue" of the application is an Executor (QtMainExecutor in the app,
// LoopExecutor headless, ManualExecutor in tests); each library component's
// own queue is a SerialQueue, which is an Executor too, so tests can hand a
// component a ManualExecutor and run its timers on virtual time.

#include <cstdint>
#include <functional>

#include "hollowkit/base/clock.h"

namespace hollowkit {

using Task = std::function<void()>;
using TaskId = uint64_t;  // 0 means none

class Executor {
public:
    virtual ~Executor() = default;

    // Runs `task` after the work already posted. Any thread.
    virtual void post(Task task) = 0;
    // Runs `task` once `delay` has passed. Any thread. Returns an id for cancel().
    virtual TaskId after(Duration delay, Task task) = 0;
    // Runs `task` every `interval` (first run one interval from now) until cancelled.
    virtual TaskId every(Duration interval, Task task) = 0;
    // Cancels a pending delayed or repeating task; a task already running
    // finishes. Unknown ids are ignored. Any thread.
    virtual void cancel(TaskId id) = 0;
    // True on the thread currently running this executor's tasks.
    virtual bool isCurrent() const = 0;
    // The clock whose time `after` and `every` count in.
    virtual const Clock& clock() const = 0;
};

// The application's main executor: the main thread in the app.
using MainExecutor = Executor;

}  // namespace hollowkit
