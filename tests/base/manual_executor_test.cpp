#include "hollowkit/testing/manual_executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

TEST(ManualExecutorTest, LongTimersRunInstantlyInOrderAtTheirOwnMoment) {
    ManualExecutor executor;
    const TimePoint start = executor.clock().now();
    std::vector<std::pair<int, Duration>> ran;
    auto mark = [&](int tag) { ran.emplace_back(tag, executor.clock().now() - start); };

    executor.after(30s, [&] { mark(30); });
    executor.after(10s, [&] {
        mark(10);
        // A timer set from a timer counts from that timer's moment.
        executor.after(5s, [&] { mark(15); });
    });
    executor.after(20s, [&] { mark(20); });
    TaskId dropped = executor.after(25s, [&] { mark(25); });
    executor.cancel(dropped);

    executor.advance(60s);
    const std::vector<std::pair<int, Duration>> expected{
        {10, 10s}, {15, 15s}, {20, 20s}, {30, 30s}};
    EXPECT_EQ(ran, expected);
    EXPECT_EQ(executor.clock().now() - start, 60s);
}

TEST(ManualExecutorTest, RepeatingTimerRunsOncePerIntervalWithoutDrift) {
    ManualExecutor executor;
    int runs = 0;
    TaskId id = executor.every(50ms, [&] { ++runs; });
    executor.advance(1s);
    EXPECT_EQ(runs, 20);
    executor.advance(49ms);
    EXPECT_EQ(runs, 20);
    executor.advance(1ms);
    EXPECT_EQ(runs, 21);
    executor.cancel(id);
    executor.advance(10s);
    EXPECT_EQ(runs, 21);
}

TEST(ManualExecutorTest, TimerCancelledByAnEarlierTaskAtTheSameMomentStaysSilent) {
    ManualExecutor executor;
    bool late = false;
    TaskId second = 0;
    executor.after(1s, [&] { executor.cancel(second); });
    second = executor.after(1s, [&] { late = true; });
    executor.advance(2s);
    EXPECT_FALSE(late);
}

TEST(ManualExecutorTest, NothingRunsUntilDriven) {
    ManualExecutor executor;
    bool ran = false;
    executor.post([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_EQ(executor.runUntilIdle(), 1u);
    EXPECT_TRUE(ran);
}

TEST(ManualExecutorTest, WaitForRunsWorkPostedFromOtherThreads) {
    ManualExecutor executor;
    std::vector<int> got;
    std::jthread worker([&] {
        for (int i = 0; i < 100; ++i) executor.post([&, i] { got.push_back(i); });
    });
    ASSERT_TRUE(executor.waitFor([&] { return got.size() == 100; }));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(got[i], i);
    EXPECT_TRUE(executor.isCurrent());
}

}  // namespace
}  // namespace hollowkit
