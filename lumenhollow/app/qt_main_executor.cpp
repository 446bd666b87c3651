#include "lumenhollow/app/qt_main_executor.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "lumenhollow/ui/kit/queued_call.h"

namespace lumenhollow {
namespace {

// Qt counts whole milliseconds; rounding up keeps "not before the delay".
std::chrono::milliseconds toTimerMilliseconds(hollowkit::Duration duration) {
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(duration));
}

// The system's monotonic time with a calendar that stands still.
class StoppedWallClock final : public hollowkit::Clock {
public:
    explicit StoppedWallClock(hollowkit::WallTime at) : at_(at) {}
    hollowkit::TimePoint now() const override { return hollowkit::Clock::system().now(); }
    hollowkit::WallTime wallNow() const override { return at_; }

private:
    const hollowkit::WallTime at_;
};

}  // namespace

QtMainExecutor::QtMainExecutor(std::optional<hollowkit::WallTime> stoppedWallTime)
    : clock_(stoppedWallTime ? std::make_unique<StoppedWallClock>(*stoppedWallTime) : nullptr),
      context_(std::make_unique<QObject>()), timer_(new QTimer(context_.get())), thread_(QThread::currentThread()) {
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setSingleShot(true);
    QObject::connect(timer_, &QTimer::timeout, context_.get(), [this] { runDue(); });
}

QtMainExecutor::~QtMainExecutor() = default;

void QtMainExecutor::post(hollowkit::Task task) {
    ui::postQueued(*context_, std::move(task));
    noteWork();
}

void QtMainExecutor::noteWork() {
    {
        hollowkit::MutexLock lock(mutex_);
        ++work_;
    }
    workArrived_.notify_all();
}

hollowkit::TaskId QtMainExecutor::after(hollowkit::Duration delay, hollowkit::Task task) {
    return schedule(delay, delay, false, std::move(task));
}

hollowkit::TaskId QtMainExecutor::every(hollowkit::Duration interval, hollowkit::Task task) {
    // A repeating task needs some interval, or it would run without end.
    const hollowkit::Duration atLeast = std::max(interval, hollowkit::Duration(std::chrono::milliseconds(1)));
    return schedule(atLeast, atLeast, true, std::move(task));
}

hollowkit::TaskId QtMainExecutor::schedule(hollowkit::Duration delay, hollowkit::Duration interval,
                                           bool repeating, hollowkit::Task task) {
    const hollowkit::TimePoint due = clock().now() + std::max(delay, hollowkit::Duration::zero());
    hollowkit::TaskId id = 0;
    {
        hollowkit::MutexLock lock(mutex_);
        id = nextId_++;
        timers_.emplace(id, Timer{std::make_shared<hollowkit::Task>(std::move(task)), due, interval, repeating});
        queue_.emplace(due, id);
        ++work_;
    }
    workArrived_.notify_all();
    if (isCurrent()) {
        rearm();
    } else {
        // Through the one queued call that tells a thread checker of its hand-over.
        ui::postQueued(*context_, [this] { rearm(); });
    }
    return id;
}

void QtMainExecutor::rearm() {
    std::optional<hollowkit::TimePoint> earliest;
    {
        hollowkit::MutexLock lock(mutex_);
        if (!queue_.empty()) earliest = queue_.begin()->first;
    }
    if (!earliest) {
        timer_->stop();
        return;
    }
    timer_->start(toTimerMilliseconds(*earliest - clock().now()));
}

void QtMainExecutor::runDue() {
    const hollowkit::TimePoint now = clock().now();
    for (;;) {
        std::shared_ptr<hollowkit::Task> task;
        {
            hollowkit::MutexLock lock(mutex_);
            if (queue_.empty() || queue_.begin()->first > now) break;
            const hollowkit::TaskId id = queue_.begin()->second;
            queue_.erase(queue_.begin());
            const auto found = timers_.find(id);
            task = found->second.task;
            if (found->second.repeating) {
                // The next run keeps the rhythm, but a late thread never
                // makes it catch up with a burst.
                Timer& timer = found->second;
                timer.due = std::max(timer.due + timer.interval, now + timer.interval / 2);
                queue_.emplace(timer.due, id);
            } else {
                timers_.erase(found);
            }
        }
        (*task)();  // never under the lock: it may schedule or cancel
    }
    rearm();
}

bool QtMainExecutor::runWithoutEventLoop(const std::function<bool()>& done, hollowkit::TimePoint deadline) {
    for (;;) {
        uint64_t seen = 0;
        {
            hollowkit::MutexLock lock(mutex_);
            seen = work_;
        }
        // Posted tasks are queued calls on the context: only they are
        // delivered, never the events of windows or sockets.
        QCoreApplication::sendPostedEvents(context_.get(), 0);
        runDue();
        if (done()) return true;
        if (clock().now() >= deadline) return false;
        hollowkit::MutexLock lock(mutex_);
        if (work_ != seen) continue;
        const hollowkit::TimePoint wake = queue_.empty() ? deadline : std::min(deadline, queue_.begin()->first);
        lock.waitUntil(workArrived_, wake, [&]() HK_REQUIRES(mutex_) { return work_ != seen; });
    }
}

void QtMainExecutor::cancel(hollowkit::TaskId id) {
    hollowkit::MutexLock lock(mutex_);
    const auto found = timers_.find(id);
    if (found == timers_.end()) return;
    queue_.erase({found->second.due, id});
    timers_.erase(found);
    // The QTimer may wake for nothing; it then finds nothing due.
}

bool QtMainExecutor::isCurrent() const {
    return QThread::currentThread() == thread_;
}

const hollowkit::Clock& QtMainExecutor::clock() const {
    return clock_ ? *clock_ : hollowkit::Clock::system();
}

size_t QtMainExecutor::pendingTimers() const {
    hollowkit::MutexLock lock(mutex_);
    return timers_.size();
}

}  // namespace lumenhollow
