#include "lumenhollow/ui/window/frame_mailbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace lumenhollow {
namespace {

hollowkit::VideoFrame solidFrame(int width, int height, uint8_t blue, uint8_t green, uint8_t red) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = blue;
        pixels[i + 1] = green;
        pixels[i + 2] = red;
        pixels[i + 3] = 255;
    }
    const hollowkit::PlaneView plane{pixels.data(), static_cast<size_t>(width) * 4};
    return hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::bgra, width, height, {&plane, 1}, {});
}

TEST(FrameMailboxTest, PreparedSizeFitsLargeFramesAndKeepsSmallOnes) {
    const struct {
        const char* name;
        int frameW, frameH, targetW, targetH;
        FrameMailbox::PixelSize size;
    } cases[] = {
        {"1080p into 1152x648", 1920, 1080, 1152, 648, {1152, 648}},
        {"4:3 into 16:9 keeps its aspect", 1440, 1080, 1152, 648, {864, 648}},
        {"portrait into landscape", 1080, 1920, 1152, 648, {365, 648}},
        {"a small frame keeps its size", 640, 360, 1152, 648, {640, 360}},
        {"no target yet", 1920, 1080, 0, 0, {1920, 1080}},
        {"a one-pixel target", 1920, 1080, 1, 1, {1, 1}},
        {"no frame", 0, 0, 1152, 648, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FrameMailbox::preparedSize(c.frameW, c.frameH, c.targetW, c.targetH), c.size);
    }
}

TEST(FrameMailboxTest, NewerFramesReplaceOlderOnesWithOneWakeUp) {
    int wakeUps = 0;
    FrameMailbox mailbox([&] { ++wakeUps; });
    mailbox.setTargetSize(960, 540);
    mailbox.push(solidFrame(1920, 1080, 255, 0, 0));
    mailbox.push(solidFrame(1920, 1080, 0, 255, 0));
    mailbox.push(solidFrame(1920, 1080, 0, 0, 255));
    EXPECT_EQ(wakeUps, 1) << "one wake-up waits at a time";
    const hollowkit::VideoFrame shown = mailbox.take();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown.width(), 960);
    EXPECT_EQ(shown.height(), 540);
    EXPECT_EQ(shown.pixelFormat(), hollowkit::PixelFormat::bgra);
    const uint8_t* pixel = shown.planeData(0) + shown.stride(0) * 270 + 480 * 4;
    EXPECT_EQ(pixel[2], 255) << "the newest frame, red";
    EXPECT_EQ(pixel[0], 0);
    EXPECT_FALSE(mailbox.take()) << "taken once";

    mailbox.push(solidFrame(1920, 1080, 1, 2, 3));
    EXPECT_EQ(wakeUps, 1) << "a take is not the wake-up's arrival: the one on its way stays the only one";
    mailbox.wakeUpDelivered();
    mailbox.push(solidFrame(1920, 1080, 1, 2, 3));
    EXPECT_EQ(wakeUps, 2) << "the wake-up's arrival lets the next frame wake the surface";
    mailbox.clear();
    EXPECT_FALSE(mailbox.take());
    mailbox.push(hollowkit::VideoFrame());
    EXPECT_EQ(mailbox.counts().pushed, 5u) << "a null frame is not counted";
}

TEST(FrameMailboxTest, AWakeUpThatArrivesWithNobodyToTakeTheFrameLetsTheNextOneWakeAgain) {
    // The window closed: its wake-up arrives and nothing takes the frame.
    // The frames after it must still wake the window opened next.
    int wakeUps = 0;
    FrameMailbox mailbox([&] { ++wakeUps; });
    mailbox.push(solidFrame(64, 36, 255, 0, 0));
    mailbox.wakeUpDelivered();
    mailbox.push(solidFrame(64, 36, 0, 255, 0));
    EXPECT_EQ(wakeUps, 2);
    mailbox.push(solidFrame(64, 36, 0, 0, 255));
    EXPECT_EQ(wakeUps, 2) << "still one on its way";
    const hollowkit::VideoFrame shown = mailbox.take();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown.planeData(0)[2], 255) << "the newest frame, red";
    const FrameMailbox::Counts counts = mailbox.counts();
    EXPECT_EQ(counts.posted, 2u);
    EXPECT_EQ(counts.delivered, 1u);
    EXPECT_EQ(counts.taken, 1u);
}

TEST(FrameMailboxTest, NeverMoreThanOneWakeUpWaitsUnderConcurrentPushes) {
    std::atomic<int> waiting{0};
    std::atomic<int> most{0};
    FrameMailbox* box = nullptr;
    FrameMailbox mailbox([&] {
        const int now = ++waiting;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
    });
    box = &mailbox;
    mailbox.setTargetSize(64, 36);
    std::vector<std::thread> pushers;
    for (int t = 0; t < 3; ++t) {
        pushers.emplace_back([box] {
            const hollowkit::VideoFrame frame = solidFrame(128, 72, 9, 9, 9);
            for (int i = 0; i < 200; ++i) box->push(frame);
        });
    }
    int taken = 0;
    for (int i = 0; i < 2000 && taken < 600; ++i) {
        if (waiting.load() > 0) {
            --waiting;
            mailbox.wakeUpDelivered();
            if (mailbox.take()) ++taken;
        } else {
            std::this_thread::yield();
        }
    }
    for (std::thread& pusher : pushers) pusher.join();
    EXPECT_EQ(most.load(), 1);
    const FrameMailbox::Counts counts = mailbox.counts();
    EXPECT_EQ(counts.pushed, 600u);
    EXPECT_LE(counts.posted, counts.pushed);
    EXPECT_LE(counts.taken, counts.posted);
}

}  // namespace
}  // namespace lumenhollow
