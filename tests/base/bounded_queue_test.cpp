#include "hollowkit/base/bounded_queue.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

TEST(BoundedQueueTest, KeepsOrderAndNeverLetsTheProducerRunAhead) {
    constexpr int kCapacity = 2;
    constexpr int kItems = 2000;
    BoundedQueue<int> queue(kCapacity);
    std::atomic<int> pushed{0};
    std::jthread producer([&] {
        for (int i = 0; i < kItems; ++i) {
            ASSERT_TRUE(queue.push(i));
            pushed.fetch_add(1);
        }
        queue.close();
    });
    std::vector<int> seen;
    int mostAhead = 0;
    while (std::optional<int> item = queue.pop()) {
        seen.push_back(*item);
        // After n pops the producer can have finished at most n + capacity
        // pushes.
        mostAhead = std::max(mostAhead, pushed.load() - static_cast<int>(seen.size()));
    }
    ASSERT_EQ(seen.size(), static_cast<size_t>(kItems));
    for (int i = 0; i < kItems; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], i);
    EXPECT_LE(mostAhead, kCapacity);
}

// Each case queues `queued` items, then a second thread pushes one more or
// pops, and the queue is closed (before the thread starts, or while it
// waits on a full or an empty queue). The thread's call fails rather than
// waiting for ever, and what was queued still comes out, in order.
TEST(BoundedQueueTest, CloseFailsWaitersAndStillDrains) {
    struct Case {
        const char* name;
        size_t capacity;
        int queued;
        bool threadPushes;
        bool closeFirst;
    };
    const std::vector<Case> cases{
        {"push waiting on a full queue", 2, 2, true, false},
        {"pop waiting on an empty queue", 2, 0, false, false},
        {"push with room after the close", 3, 1, true, true},
        {"pop after the close", 3, 2, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BoundedQueue<std::string> queue(c.capacity);
        std::vector<std::string> expected;
        for (int i = 0; i < c.queued; ++i) {
            expected.push_back(std::to_string(i));
            ASSERT_TRUE(queue.push(expected.back()));
        }
        if (c.closeFirst) queue.close();
        std::optional<bool> pushed;
        std::optional<std::string> popped;
        std::jthread other([&] {
            if (c.threadPushes) {
                pushed = queue.push("late");
            } else {
                popped = queue.pop();
            }
        });
        if (!c.closeFirst) queue.close();
        other.join();
        if (c.threadPushes) {
            EXPECT_EQ(pushed, std::optional<bool>(false));
        } else if (c.queued > 0) {
            // A pop after the close still takes the first item.
            EXPECT_EQ(popped, std::optional<std::string>(expected.front()));
            expected.erase(expected.begin());
        } else {
            EXPECT_FALSE(popped.has_value());
        }
        std::vector<std::string> drained;
        while (std::optional<std::string> item = queue.pop()) drained.push_back(*item);
        EXPECT_EQ(drained, expected);
    }
}

}  // namespace
}  // namespace hollowkit
