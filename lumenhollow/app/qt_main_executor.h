#pragma once

// QtMainExecutor: the application's main executor, the Qt event loop of the
// GUI thread. Posted tasks are queued events. Delayed and repeating tasks
// wait in one queue ordered by when they are due, woken by one precise
// QTimer; Qt timers fire in every event loop of the thread, so these keep
// running while a menu is open or a modal dialog runs its own loop, and
// tasks due together run in due order even when the thread was held up.
//
// Make it on the GUI thread once the QApplication exists, and keep it until
// no thread posts any more; post, after, every and cancel may be called
// from any thread. Time is the system's monotonic clock, as Qt's timers;
// the calendar time is the system's too, or one fixed moment for scripted
// runs whose pictures must not change with the hour (every elapsed time
// read against it, the record pill's among them, then stands at zero).

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"

class QObject;
class QThread;
class QTimer;

namespace lumenhollow {

class QtMainExecutor final : public hollowkit::Executor {
public:
    explicit QtMainExecutor(std::optional<hollowkit::WallTime> stoppedWallTime = std::nullopt);
    ~QtMainExecutor() override;
    QtMainExecutor(const QtMainExecutor&) = delete;
    QtMainExecutor& operator=(const QtMainExecutor&) = delete;

    void post(hollowkit::Task task) override;
    hollowkit::TaskId after(hollowkit::Duration delay, hollowkit::Task task) override;
    hollowkit::TaskId every(hollowkit::Duration interval, hollowkit::Task task) override;
    void cancel(hollowkit::TaskId id) override;
    bool isCurrent() const override;
    const hollowkit::Clock& clock() const override;

    // Delayed and repeating tasks not yet run or cancelled (a repeating one
    // counts until cancelled). Any thread.
    size_t pendingTimers() const;

    // Runs this executor's tasks without Qt's event loop, for an ending that
    // cannot go back to it (the display lost): posted tasks in their order,
    // delayed and repeating ones when due, sleeping in between until one is
    // posted or due; nothing else of the event loop runs meanwhile. Returns
    // true once `done` holds after a turn, false once `deadline` has passed.
    // GUI thread only.
    bool runWithoutEventLoop(const std::function<bool()>& done, hollowkit::TimePoint deadline);

private:
    struct Timer {
        std::shared_ptr<hollowkit::Task> task;
        hollowkit::TimePoint due;
        hollowkit::Duration interval{};
        bool repeating = false;
    };

    hollowkit::TaskId schedule(hollowkit::Duration delay, hollowkit::Duration interval, bool repeating,
                               hollowkit::Task task);
    // GUI thread: points the one QTimer at the earliest due task.
    void rearm();
    // GUI thread: runs every task due by now, earliest first.
    void runDue();
    // Wakes runWithoutEventLoop: a task was posted or scheduled.
    void noteWork();

    std::unique_ptr<hollowkit::Clock> clock_;
    std::unique_ptr<QObject> context_;  // lives on the GUI thread
    QTimer* timer_;                     // a child of context_
    QThread* const thread_;
    mutable hollowkit::Mutex mutex_;
    hollowkit::TaskId nextId_ HK_GUARDED_BY(mutex_) = 1;
    std::unordered_map<hollowkit::TaskId, Timer> timers_ HK_GUARDED_BY(mutex_);
    // Due order; ties in the order they were scheduled.
    std::set<std::pair<hollowkit::TimePoint, hollowkit::TaskId>> queue_ HK_GUARDED_BY(mutex_);
    // Tasks posted or scheduled so far; runWithoutEventLoop waits on its change.
    uint64_t work_ HK_GUARDED_BY(mutex_) = 0;
    std::condition_variable workArrived_;
};

}  // namespace lumenhollow
