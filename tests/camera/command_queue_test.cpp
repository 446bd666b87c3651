#include "hollowkit/camera/command_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace hollowkit {
namespace {

TEST(CommandQueueTest, TakeAllReturnsAppendOrderAndEmptiesTheQueue) {
    CommandQueue queue;
    EXPECT_TRUE(queue.takeAll().empty());

    queue.append(CameraCommand::zoom(200));
    queue.append(CameraCommand::flipGimbal());
    queue.append(CameraCommand::cardRecording(true));
    EXPECT_EQ(queue.takeAll(), (std::vector<CameraCommand>{CameraCommand::zoom(200), CameraCommand::flipGimbal(),
                                                          CameraCommand::cardRecording(true)}));
    EXPECT_TRUE(queue.takeAll().empty());

    queue.append(CameraCommand::cardRecording(false));
    EXPECT_EQ(queue.takeAll(), std::vector<CameraCommand>{CameraCommand::cardRecording(false)});
}

// One thread appends while another drains: every command arrives exactly
// once and in append order across the drains.
TEST(CommandQueueTest, ConcurrentAppendAndDrainKeepsEveryCommandInOrder) {
    CommandQueue queue;
    constexpr int kCount = 5000;
    std::thread writer([&] {
        for (int i = 0; i < kCount; ++i) queue.append(CameraCommand::zoom(100 + i));
    });
    std::vector<CameraCommand> received;
    while (received.size() < static_cast<size_t>(kCount)) {
        auto batch = queue.takeAll();
        received.insert(received.end(), batch.begin(), batch.end());
        if (batch.empty()) std::this_thread::yield();
    }
    writer.join();
    EXPECT_TRUE(queue.takeAll().empty());
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(received[static_cast<size_t>(i)], CameraCommand::zoom(100 + i)) << i;
    }
}

}  // namespace
}  // namespace hollowkit
