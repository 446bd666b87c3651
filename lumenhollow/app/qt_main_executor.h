#pragma once

// QtMainExecutor: the application's main executor, the Qt event loop of the
// GUI thread. Posted tasks are queued events; delayed and repeating tasks
// are precise QTimers, which fire in every event loop of the thread, so they
// keep running while a menu is open or a modal dialog runs its own loop.
//
// Make it on the GUI thread once the QApplication exists, and keep it until
// no thread posts any more; post, after, every and cancel may be called
// from any thread. Time is the system's monotonic clock, as Qt's timers.

#include <memory>
#include <unordered_map>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/mutex.h"

class QObject;
class QThread;
class QTimer;

namespace lumenhollow {

class QtMainExecutor final : public hollowkit::Executor {
public:
    QtMainExecutor();
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

private:
    struct Timer {
        std::shared_ptr<hollowkit::Task> task;
        bool repeating = false;
        QTimer* qtimer = nullptr;  // made on the GUI thread; null until then
    };

    hollowkit::TaskId schedule(hollowkit::Duration delay, hollowkit::Duration interval, bool repeating,
                               hollowkit::Task task);
    // GUI thread: starts the QTimer of `id` `delay` from now unless cancelled meanwhile.
    void arm(hollowkit::TaskId id, hollowkit::TimePoint due, hollowkit::Duration interval);
    void fire(hollowkit::TaskId id);

    std::unique_ptr<QObject> context_;  // lives on the GUI thread; owns the QTimers
    QThread* const thread_;
    mutable hollowkit::Mutex mutex_;
    hollowkit::TaskId nextId_ HK_GUARDED_BY(mutex_) = 1;
    std::unordered_map<hollowkit::TaskId, Timer> timers_ HK_GUARDED_BY(mutex_);
};

}  // namespace lumenhollow
