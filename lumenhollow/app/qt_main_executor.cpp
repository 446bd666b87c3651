#include "lumenhollow/app/qt_main_executor.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

namespace lumenhollow {
namespace {

// Qt counts whole milliseconds; rounding up keeps "not before the delay".
std::chrono::milliseconds toTimerMilliseconds(hollowkit::Duration duration) {
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(duration));
}

}  // namespace

QtMainExecutor::QtMainExecutor() : context_(std::make_unique<QObject>()), thread_(QThread::currentThread()) {}

QtMainExecutor::~QtMainExecutor() {
    hollowkit::MutexLock lock(mutex_);
    timers_.clear();  // the QTimers go with their parent, context_
}

void QtMainExecutor::post(hollowkit::Task task) {
    QMetaObject::invokeMethod(context_.get(), [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

hollowkit::TaskId QtMainExecutor::after(hollowkit::Duration delay, hollowkit::Task task) {
    return schedule(delay, delay, false, std::move(task));
}

hollowkit::TaskId QtMainExecutor::every(hollowkit::Duration interval, hollowkit::Task task) {
    return schedule(interval, interval, true, std::move(task));
}

hollowkit::TaskId QtMainExecutor::schedule(hollowkit::Duration delay, hollowkit::Duration interval,
                                           bool repeating, hollowkit::Task task) {
    // The delay counts from now, not from when the GUI thread gets to it.
    const hollowkit::TimePoint due = clock().now() + delay;
    hollowkit::TaskId id = 0;
    {
        hollowkit::MutexLock lock(mutex_);
        id = nextId_++;
        timers_.emplace(id, Timer{std::make_shared<hollowkit::Task>(std::move(task)), repeating, nullptr});
    }
    if (isCurrent()) {
        arm(id, due, interval);
    } else {
        QMetaObject::invokeMethod(context_.get(), [this, id, due, interval] { arm(id, due, interval); },
                                  Qt::QueuedConnection);
    }
    return id;
}

void QtMainExecutor::arm(hollowkit::TaskId id, hollowkit::TimePoint due, hollowkit::Duration interval) {
    hollowkit::MutexLock lock(mutex_);
    const auto found = timers_.find(id);
    if (found == timers_.end()) return;  // cancelled before it got here
    auto* timer = new QTimer(context_.get());
    timer->setTimerType(Qt::PreciseTimer);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, context_.get(), [this, id] { fire(id); });
    found->second.qtimer = timer;
    // A repeating task's first run is one interval after every() was called;
    // the QTimer then repeats at the interval.
    timer->start(toTimerMilliseconds(due - clock().now()));
    if (found->second.repeating) {
        QObject::connect(timer, &QTimer::timeout, timer, [timer, interval] {
            if (timer->isSingleShot()) {
                timer->setSingleShot(false);
                timer->start(toTimerMilliseconds(interval));
            }
        });
    }
}

void QtMainExecutor::fire(hollowkit::TaskId id) {
    std::shared_ptr<hollowkit::Task> task;
    {
        hollowkit::MutexLock lock(mutex_);
        const auto found = timers_.find(id);
        if (found == timers_.end()) return;
        task = found->second.task;
        if (!found->second.repeating) {
            found->second.qtimer->deleteLater();
            timers_.erase(found);
        }
    }
    (*task)();  // never under the lock: it may schedule or cancel
}

void QtMainExecutor::cancel(hollowkit::TaskId id) {
    QTimer* timer = nullptr;
    {
        hollowkit::MutexLock lock(mutex_);
        const auto found = timers_.find(id);
        if (found == timers_.end()) return;
        timer = found->second.qtimer;
        timers_.erase(found);
    }
    if (!timer) return;  // not armed yet: arm() finds it gone
    if (isCurrent()) {
        timer->stop();
        timer->deleteLater();  // it may be the one whose task is running
    } else {
        QMetaObject::invokeMethod(timer, [timer] {
            timer->stop();
            timer->deleteLater();
        }, Qt::QueuedConnection);
    }
}

bool QtMainExecutor::isCurrent() const {
    return QThread::currentThread() == thread_;
}

const hollowkit::Clock& QtMainExecutor::clock() const {
    return hollowkit::Clock::system();
}

size_t QtMainExecutor::pendingTimers() const {
    hollowkit::MutexLock lock(mutex_);
    return timers_.size();
}

}  // namespace lumenhollow
