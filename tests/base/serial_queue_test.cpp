#include "hollowkit/base/serial_queue.h"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "hollowkit/base/loop_executor.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/base/thread_name.h"

namespace hollowkit {
namespace {

// Blocks the test until `count` signals arrive (bounded).
class Latch {
public:
    explicit Latch(int count) : count_(count) {}
    void arrive() {
        std::lock_guard lock(mutex_);
        if (--count_ <= 0) done_.notify_all();
    }
    bool wait(Duration timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return done_.wait_for(lock, timeout, [&] { return count_ <= 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    int count_;
};

TEST(SerialQueueTest, KeepsEachProducersOrderUnderConcurrentPosts) {
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 2000;
    SerialQueue queue("HollowKit.Test");
    std::vector<std::vector<int>> seen(kProducers);  // touched only on the queue
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    Latch done(kProducers * kPerProducer);

    std::vector<std::jthread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                queue.post([&, p, i] {
                    if (running.fetch_add(1) != 0) overlapped = true;
                    seen[p].push_back(i);
                    running.fetch_sub(1);
                    done.arrive();
                });
            }
        });
    }
    ASSERT_TRUE(done.wait());
    EXPECT_FALSE(overlapped);
    for (const auto& list : seen) {
        ASSERT_EQ(list.size(), size_t(kPerProducer));
        for (int i = 0; i < kPerProducer; ++i) ASSERT_EQ(list[i], i);
    }
}

TEST(SerialQueueTest, TimersRunInDueOrderAfterEarlierPosts) {
    SerialQueue queue("HollowKit.Test");
    std::vector<int> order;
    Latch done(4);
    queue.after(std::chrono::milliseconds(40), [&] { order.push_back(3); done.arrive(); });
    queue.after(std::chrono::milliseconds(5), [&] { order.push_back(2); done.arrive(); });
    TaskId cancelled = queue.after(std::chrono::milliseconds(10), [&] { order.push_back(99); });
    queue.post([&] { order.push_back(1); done.arrive(); });
    queue.cancel(cancelled);
    // Scheduled after a long one: must not wait behind it.
    queue.after(std::chrono::milliseconds(20), [&] { order.push_back(25); done.arrive(); });
    ASSERT_TRUE(done.wait());
    queue.sync([] {});
    EXPECT_EQ(order, (std::vector<int>{1, 2, 25, 3}));
}

TEST(SerialQueueTest, RepeatingTimerStopsWhenCancelledFromItsOwnRun) {
    SerialQueue queue("HollowKit.Test");
    std::atomic<int> runs{0};
    Latch third(1);
    std::atomic<TaskId> id{0};
    Latch armed(1);
    id = queue.every(std::chrono::milliseconds(1), [&] {
        if (++runs == 3) {
            armed.wait();
            queue.cancel(id.load());
            third.arrive();
        }
    });
    armed.arrive();
    ASSERT_TRUE(third.wait());
    // Anything still due would run before this barrier-like round trip.
    queue.after(std::chrono::milliseconds(10), [] {});
    queue.sync([] {});
    std::this_thread::yield();
    queue.sync([] {});
    EXPECT_EQ(runs.load(), 3);
}

TEST(SerialQueueTest, SyncRunsOnTheQueueAndRefusesItsOwnThread) {
    SerialQueue queue("HollowKit.Test");
    bool onQueue = false;
    bool nestedAccepted = true;
    ASSERT_TRUE(queue.sync([&] {
        onQueue = queue.isCurrent();
        nestedAccepted = queue.sync([] {});
    }));
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(nestedAccepted);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueueTest, TwoQueuesWithOneLabelAreSeparate) {
    SerialQueue a("HollowKit.FaceDetector");
    SerialQueue b("HollowKit.FaceDetector");
    bool aSeesB = true;
    a.sync([&] { aSeesB = b.isCurrent(); });
    EXPECT_FALSE(aSeesB);
}

TEST(SerialQueueTest, DestructionDropsPendingWorkAndJoins) {
    std::atomic<int> ran{0};
    {
        SerialQueue queue("HollowKit.Test");
        queue.after(std::chrono::hours(1), [&] { ++ran; });
        queue.sync([] {});
    }
    EXPECT_EQ(ran.load(), 0);
}

// stop() lets the running task end, drops what waits behind it, and from
// then on refuses work at once, releasing what it holds.
TEST(SerialQueueTest, StopEndsTheRunningTaskAndRunsNothingMore) {
    SerialQueue queue("HollowKit.Test");
    Latch started(1);
    std::atomic<bool> sawStop{false};
    std::atomic<int> ran{0};
    queue.post([&] {
        started.arrive();
        // Runs until the queue refuses new work, which it does once stopped.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < limit) {
            const TaskId probe = queue.after(std::chrono::hours(1), [] {});
            if (probe == 0) {
                sawStop = true;
                return;
            }
            queue.cancel(probe);
            std::this_thread::yield();
        }
    });
    queue.post([&] { ++ran; });
    queue.after(Duration::zero(), [&] { ++ran; });
    ASSERT_TRUE(started.wait());
    queue.stop();
    EXPECT_TRUE(sawStop.load()) << "stop returned before the running task ended";

    const auto held = std::make_shared<int>(0);
    queue.post([held, &ran] { ++ran; });
    EXPECT_EQ(held.use_count(), 1) << "a refused task is kept";
    EXPECT_EQ(queue.after(Duration::zero(), [&] { ++ran; }), TaskId{0});
    EXPECT_EQ(queue.every(std::chrono::milliseconds(1), [&] { ++ran; }), TaskId{0});
    EXPECT_FALSE(queue.sync([&] { ++ran; }));
    queue.stop();
    EXPECT_EQ(ran.load(), 0);
}

// A queue whose stop() waits, between marking the queue stopped and asking
// its thread to end, for what the test sets.
class HeldStopQueue final : public SerialQueue {
public:
    using SerialQueue::SerialQueue;
    std::function<void()> whenStopMarked;

protected:
    void stopMarked() override {
        if (whenStopMarked) whenStopMarked();
    }
};

// The losing order, forced: the running task ends after stop() has marked
// the queue stopped but before the thread is asked to end. The task behind
// it is dropped all the same, never run.
TEST(SerialQueueTest, ATaskBehindTheRunningOneIsDroppedWhenTheStopComesBetween) {
    HeldStopQueue queue("HollowKit.Test");
    Latch started(1);
    Latch release(1);
    Latch settled(1);  // the task behind ran or was dropped
    std::atomic<int> ran{0};
    queue.post([&] {
        started.arrive();
        EXPECT_TRUE(release.wait());
    });
    // Let go with the task behind, whether it ran or was dropped.
    std::shared_ptr<int> sentinel(new int(0), [&settled](int* value) {
        delete value;
        settled.arrive();
    });
    queue.post([&ran, sentinel] { ++ran; });
    sentinel.reset();
    queue.whenStopMarked = [&] {
        release.arrive();
        EXPECT_TRUE(settled.wait()) << "the task behind was neither run nor dropped";
    };
    ASSERT_TRUE(started.wait());
    queue.stop();
    EXPECT_EQ(ran.load(), 0);
}

TEST(SerialQueueTest, ThreadCarriesTheShortenedLabel) {
    SerialQueue queue("HollowKit.UDPReceive");
    char name[16] = {};
    queue.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
    EXPECT_STREQ(name, "HK.UDPReceive");
    EXPECT_EQ(queue.label(), "HollowKit.UDPReceive");
}

TEST(SerialQueueTest, AUtilityLabelLowersTheThreadsPriority) {
    const auto niceOf = [](SerialQueue& queue) {
        int nice = 0;
        queue.sync([&] { nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())); });
        return nice;
    };
    SerialQueue plain("HollowKit.Test");
    SerialQueue utility(std::string(kProbeQueue.label));
    ASSERT_EQ(kProbeQueue.qos, QualityOfService::utility);
    EXPECT_EQ(niceOf(utility), std::min(niceOf(plain) + niceIncrement(QualityOfService::utility), 19));
}

TEST(ThreadNameTest, FitsFifteenBytes) {
    struct Case {
        const char* label;
        const char* expected;
    };
    for (auto c : {Case{"HollowKit.Video", "HK.Video"},
                   Case{"HollowKit.BackgroundPreview", "HK.BackgroundPr"},
                   Case{"Lumenhollow.Main", "Lumenhollow.Mai"},
                   Case{"HollowKit.Caméraaaaaaa", "HK.Caméraaaaaa"},
                   Case{"HollowKit.Cameraaaaaaé", "HK.Cameraaaaaa"}}) {
        std::string name = osThreadName(c.label);
        EXPECT_EQ(name, c.expected) << c.label;
        EXPECT_LE(name.size(), 15u);
    }
}

TEST(LoopExecutorTest, RunsWorkOffTheCallingThread) {
    LoopExecutor loop;
    std::thread::id ranOn;
    loop.sync([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace hollowkit
