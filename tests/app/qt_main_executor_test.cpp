#include "lumenhollow/app/qt_main_executor.h"

#include <pthread.h>
#include <sched.h>

#include <gtest/gtest.h>

#include "event_loop_wait.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>
#include <atomic>
#include <string>
#include <chrono>
#include <thread>
#include <vector>

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;

using test::spinUntil;

TEST(QtMainExecutorTest, AStoppedCalendarStandsStillWhileTheTimersClockRuns) {
    const hollowkit::WallTime stopped{std::chrono::seconds(1772445600)};
    QtMainExecutor main(stopped);
    const hollowkit::TimePoint before = main.clock().now();
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(main.clock().wallNow(), stopped);
    EXPECT_GT(main.clock().now(), before) << "the timers still run on the monotonic clock";
    QtMainExecutor running;
    EXPECT_GT(running.clock().wallNow(), stopped - std::chrono::hours(24 * 365 * 10)) << "the system's calendar";
    EXPECT_NE(running.clock().wallNow(), stopped);
}

TEST(QtMainExecutorTest, TasksPostedFromAnyThreadRunOnTheGuiThreadInTheirOrder) {
    QtMainExecutor main;
    std::vector<int> order;
    std::atomic<int> wrongThread{0};
    std::atomic<bool> postedFromOther{false};
    std::thread other([&] {
        EXPECT_FALSE(main.isCurrent());
        for (int i = 0; i < 100; ++i) {
            main.post([&, i] {
                if (!main.isCurrent()) ++wrongThread;
                order.push_back(i);
            });
        }
        postedFromOther = true;
    });
    other.join();
    EXPECT_TRUE(main.isCurrent());
    main.post([&] { order.push_back(100); });
    ASSERT_TRUE(spinUntil([&] { return order.size() == 101; }));
    for (int i = 0; i <= 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_EQ(wrongThread.load(), 0);
}

// Puts the calling thread on one processor; the previous set comes back on destruction.
class OneProcessor {
public:
    explicit OneProcessor(int cpu) {
        pthread_getaffinity_np(pthread_self(), sizeof previous_, &previous_);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
    }
    ~OneProcessor() { pthread_setaffinity_np(pthread_self(), sizeof previous_, &previous_); }
    OneProcessor(const OneProcessor&) = delete;
    OneProcessor& operator=(const OneProcessor&) = delete;

    static int firstAllowed() {
        cpu_set_t allowed;
        pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &allowed)) return cpu;
        }
        return 0;
    }

private:
    cpu_set_t previous_;
};

// What a task holds (a movie writer whose own queue must not end on its own
// thread, say) is let go on the GUI thread, also when the task ran before
// the posting thread's call returned. Both threads share one processor, so
// the GUI thread, woken by the post, often runs the task first.
TEST(QtMainExecutorTest, WhatAPostedTaskHoldsIsReleasedOnTheGuiThread) {
    QtMainExecutor main;
    struct Witness {
        Witness(QtMainExecutor& m, std::atomic<int>& r, std::atomic<int>& e) : main(m), released(r), releasedElsewhere(e) {}
        Witness(const Witness&) = delete;
        Witness& operator=(const Witness&) = delete;
        QtMainExecutor& main;
        std::atomic<int>& released;
        std::atomic<int>& releasedElsewhere;
        ~Witness() {
            if (!main.isCurrent()) ++releasedElsewhere;
            ++released;
        }
    };
    constexpr int kTasks = 50000;
    std::atomic<int> ran{0};
    std::atomic<int> released{0};
    std::atomic<int> releasedElsewhere{0};
    const int cpu = OneProcessor::firstAllowed();
    OneProcessor pinned(cpu);
    std::thread other([&] {
        OneProcessor alsoPinned(cpu);
        for (int i = 0; i < kTasks; ++i) {
            auto witness = std::make_shared<Witness>(main, released, releasedElsewhere);
            main.post([witness = std::move(witness), &ran] { ++ran; });
        }
    });
    const bool allReleased = spinUntil([&] { return released.load() == kTasks; }, 60s);
    other.join();
    ASSERT_TRUE(allReleased) << released.load() << " of " << kTasks;
    EXPECT_EQ(ran.load(), kTasks);
    EXPECT_EQ(releasedElsewhere.load(), 0);
}

TEST(QtMainExecutorTest, DelayedTasksRunNoEarlierThanAskedAndCancelledOnesNever) {
    QtMainExecutor main;
    const hollowkit::TimePoint start = main.clock().now();
    std::vector<std::pair<int, hollowkit::Duration>> ran;
    auto record = [&](int which) { return [&, which] { ran.emplace_back(which, main.clock().now() - start); }; };
    main.after(60ms, record(2));
    main.after(20ms, record(1));
    const hollowkit::TaskId cancelled = main.after(40ms, record(99));
    main.cancel(cancelled);
    main.cancel(12345);  // unknown: ignored
    // Scheduled and cancelled from another thread as well.
    std::thread([&] {
        main.after(80ms, record(3));
        main.cancel(main.after(10ms, record(98)));
    }).join();
    ASSERT_TRUE(spinUntil([&] { return ran.size() == 3; }));
    spinUntil([] { return false; }, 150ms);  // anything cancelled would have run by now
    ASSERT_EQ(ran.size(), 3u);
    const hollowkit::Duration due[] = {20ms, 60ms, 80ms};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ran[i].first, i + 1);
        EXPECT_GE(ran[i].second, due[i]) << "task " << i + 1 << " ran early";
    }
    EXPECT_EQ(main.pendingTimers(), 0u);
}

TEST(QtMainExecutorTest, ARepeatingTaskRunsUntilCancelledEvenByItself) {
    QtMainExecutor main;
    int runs = 0;
    hollowkit::TaskId id = 0;
    id = main.every(5ms, [&] {
        if (++runs == 4) main.cancel(id);
    });
    int otherRuns = 0;
    const hollowkit::TaskId other = main.every(5ms, [&] { ++otherRuns; });
    ASSERT_TRUE(spinUntil([&] { return runs == 4 && otherRuns >= 8; }));
    main.cancel(other);
    const int otherAtCancel = otherRuns;
    spinUntil([] { return false; }, 60ms);
    EXPECT_EQ(runs, 4);
    EXPECT_EQ(otherRuns, otherAtCancel);
    EXPECT_EQ(main.pendingTimers(), 0u);
}

// Menus and modal dialogs run event loops of their own; the model's timers
// (the audio level, the quit fallback) must not stop while they are open.
TEST(QtMainExecutorTest, TimersAndPostsKeepRunningInsideMenusAndModalDialogs) {
    QtMainExecutor main;
    const struct {
        const char* name;
        std::function<void(std::function<void()>& close)> open;
    } loops[] = {
        {"a modal dialog",
         [](std::function<void()>& close) {
             QDialog dialog;
             close = [&dialog] { dialog.reject(); };
             dialog.exec();
         }},
        {"a menu",
         [](std::function<void()>& close) {
             QMenu menu;
             menu.addAction("Item");
             close = [&menu] { menu.close(); };
             menu.exec(QPoint(10, 10));
         }},
    };
    for (const auto& loop : loops) {
        SCOPED_TRACE(loop.name);
        int ticks = 0;
        bool postRan = false;
        std::function<void()> close;
        hollowkit::TaskId ticker = 0;
        ticker = main.every(5ms, [&] {
            if (++ticks == 3) main.post([&] { postRan = true; });
            if (ticks >= 5 && postRan && close) {
                main.cancel(ticker);
                close();
            }
        });
        // A bound, so a loop whose timers stall ends the test instead of hanging it.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] {
            if (close) close();
        });
        guard.start(10000);
        loop.open(close);
        EXPECT_GE(ticks, 5);
        EXPECT_TRUE(postRan);
        main.cancel(ticker);
    }
}

// An ending that cannot go back to the event loop (the display lost) runs
// the executor's work by itself: posted tasks in their order, also those
// posted from another thread while it waits, and delayed tasks when due;
// nothing else of the event loop runs meanwhile (a zero timer of Qt's own
// stays unfired). It returns once `done` holds.
TEST(QtMainExecutorTest, WithoutTheEventLoopPostedAndDueTasksRunUntilDone) {
    QtMainExecutor main;
    QObject context;
    bool eventLoopRan = false;
    QTimer::singleShot(0, &context, [&] { eventLoopRan = true; });
    std::vector<std::string> ran;
    std::thread other;
    main.post([&] {
        ran.push_back("first");
        // Posted from another thread once the run is under way, and
        // scheduled from there: the run waits for both.
        other = std::thread([&] {
            main.post([&] { ran.push_back("from another thread"); });
            main.after(1ms, [&] { ran.push_back("due"); });
        });
    });
    main.post([&] { ran.push_back("second"); });
    const bool done = main.runWithoutEventLoop([&] { return ran.size() == 4; }, main.clock().now() + 60s);
    other.join();
    EXPECT_TRUE(done);
    ASSERT_EQ(ran.size(), 4u);
    EXPECT_EQ(ran[0], "first");
    EXPECT_EQ(ran[1], "second");
    EXPECT_FALSE(eventLoopRan) << "the event loop ran beside the executor's work";
}

// A `done` that never holds: the run returns false once the deadline has
// passed, having run what was there.
TEST(QtMainExecutorTest, WithoutTheEventLoopTheRunEndsAtItsDeadline) {
    QtMainExecutor main;
    bool ran = false;
    main.post([&] { ran = true; });
    const hollowkit::TaskId never = main.after(std::chrono::hours(1), [] {});
    EXPECT_FALSE(main.runWithoutEventLoop([] { return false; }, main.clock().now()));
    EXPECT_TRUE(ran);
    main.cancel(never);
}

}  // namespace
}  // namespace lumenhollow
