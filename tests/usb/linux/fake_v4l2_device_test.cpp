// The fake camera's capture rules (frame numbering, busy buffers, vanishing,
// owner-only queues) that keep the capture tests from passing on a lax fake.

#include "hollowkit/testing/fake_v4l2_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <thread>

#include "hollowkit/testing/manual_clock.h"

namespace hollowkit {
namespace {

class FakeV4l2DeviceTest : public ::testing::Test {
protected:
    FakeV4l2DeviceTest() : fake_(clock_) {}

    int openNode(int flags = O_RDWR | O_NONBLOCK) {
        const int fd = fake_.open("/dev/video0", flags);
        EXPECT_GE(fd, 0);
        return fd;
    }

    void setFormat(int fd, uint32_t pixelFormat, uint32_t width, uint32_t height) {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.pixelformat = pixelFormat;
        format.fmt.pix.width = width;
        format.fmt.pix.height = height;
        ASSERT_EQ(fake_.ioctl(fd, VIDIOC_S_FMT, &format), 0);
    }

    // REQBUFS, QUERYBUF + mmap, QBUF each, STREAMON.
    std::vector<V4l2Mapping> startStreaming(int fd, uint32_t count) {
        v4l2_requestbuffers request{};
        request.count = count;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        EXPECT_EQ(fake_.ioctl(fd, VIDIOC_REQBUFS, &request), 0);
        std::vector<V4l2Mapping> mappings;
        for (uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            EXPECT_EQ(fake_.ioctl(fd, VIDIOC_QUERYBUF, &buffer), 0);
            auto address = fake_.mmap(fd, buffer.length, buffer.m.offset);
            EXPECT_TRUE(address.has_value());
            mappings.emplace_back(fake_, address.value_or(nullptr), buffer.length);
            EXPECT_EQ(fake_.ioctl(fd, VIDIOC_QBUF, &buffer), 0);
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        EXPECT_EQ(fake_.ioctl(fd, VIDIOC_STREAMON, &type), 0);
        return mappings;
    }

    int dequeue(int fd, v4l2_buffer& buffer) {
        buffer = {};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        return fake_.ioctl(fd, VIDIOC_DQBUF, &buffer);
    }

    short pollEvents(int fd) {
        pollfd entry{fd, POLLIN, 0};
        EXPECT_GE(fake_.poll({&entry, 1}, 0), 0);
        return entry.revents;
    }

    ManualClock clock_;
    FakeV4l2Device fake_;
};

TEST_F(FakeV4l2DeviceTest, StreamsNumberedPicturesThroughPoll) {
    const int fd = openNode();
    setFormat(fd, V4L2_PIX_FMT_NV12, 1280, 720);
    auto mappings = startStreaming(fd, 2);
    ASSERT_EQ(mappings.size(), 2U);
    EXPECT_EQ(pollEvents(fd) & POLLIN, 0);

    clock_.advanceSeconds(1);
    ASSERT_TRUE(fake_.produceFrame());
    ASSERT_TRUE(fake_.produceFrame());
    EXPECT_FALSE(fake_.produceFrame()) << "no buffer left: dropped";
    EXPECT_NE(pollEvents(fd) & POLLIN, 0);

    v4l2_buffer buffer;
    for (uint32_t expected : {0U, 1U}) {
        ASSERT_EQ(dequeue(fd, buffer), 0);
        EXPECT_EQ(buffer.sequence, expected);
        EXPECT_EQ(buffer.bytesused, 1280U * 720U * 3U / 2U);
        EXPECT_NE(buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC, 0U);
        EXPECT_EQ(buffer.timestamp.tv_sec, std::chrono::duration_cast<std::chrono::seconds>(
                                               clock_.now().time_since_epoch()).count());
        EXPECT_EQ(FakeV4l2Device::readFrameIndex(mappings[buffer.index].data(), 1280, 1280, 720), expected);
        EXPECT_EQ(mappings[buffer.index].data()[1280 * 720], 128) << "neutral chroma";
    }
    EXPECT_EQ(pollEvents(fd) & POLLIN, 0);
    EXPECT_EQ(dequeue(fd, buffer), -EAGAIN);

    ASSERT_EQ(fake_.ioctl(fd, VIDIOC_QBUF, &buffer), 0);
    ASSERT_TRUE(fake_.produceFrame());
    ASSERT_EQ(dequeue(fd, buffer), 0);
    EXPECT_EQ(buffer.sequence, 3U) << "the dropped frame used up its number";
    EXPECT_EQ(FakeV4l2Device::readFrameIndex(mappings[buffer.index].data(), 1280, 1280, 720), 3U);

    v4l2_requestbuffers release{};
    release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    release.memory = V4L2_MEMORY_MMAP;
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(fake_.ioctl(fd, VIDIOC_REQBUFS, &release), -EBUSY) << "still streaming";
    ASSERT_EQ(fake_.ioctl(fd, VIDIOC_STREAMOFF, &type), 0);
    EXPECT_EQ(fake_.ioctl(fd, VIDIOC_REQBUFS, &release), -EBUSY) << "still mapped";
    mappings.clear();
    EXPECT_EQ(fake_.ioctl(fd, VIDIOC_REQBUFS, &release), 0);
    fake_.close(fd);
}

TEST_F(FakeV4l2DeviceTest, VanishingWakesPollAndBlockedDequeues) {
    const int fd = openNode(O_RDWR);  // blocking DQBUF
    auto mappings = startStreaming(fd, 2);
    int blockedResult = 0;
    std::thread reader([&] {
        v4l2_buffer buffer;
        blockedResult = dequeue(fd, buffer);
    });
    fake_.vanish();
    reader.join();
    EXPECT_EQ(blockedResult, -ENODEV);
    EXPECT_NE(pollEvents(fd) & POLLHUP, 0);
    v4l2_buffer buffer;
    EXPECT_EQ(dequeue(fd, buffer), -ENODEV);
    EXPECT_EQ(fake_.open("/dev/video0", O_RDWR), -ENOENT);
    EXPECT_NE(mappings[0].data(), nullptr);
    mappings[0].data()[0] = 1;  // still mapped memory (ASan would object otherwise)
    mappings.clear();
    EXPECT_EQ(fake_.close(fd), 0);
    EXPECT_EQ(fake_.mappedBufferCount(), 0);
}

TEST_F(FakeV4l2DeviceTest, InjectedFailuresAndBusyQueues) {
    const int owner = openNode();
    const int other = openNode();
    fake_.failIoctl(VIDIOC_QUERYCAP, EIO, 2);
    v4l2_capability caps{};
    EXPECT_EQ(fake_.ioctl(owner, VIDIOC_QUERYCAP, &caps), -EIO);
    EXPECT_EQ(fake_.ioctl(owner, VIDIOC_QUERYCAP, &caps), -EIO);
    EXPECT_EQ(fake_.ioctl(owner, VIDIOC_QUERYCAP, &caps), 0) << "two failures, then answers";
    EXPECT_NE(caps.device_caps & V4L2_CAP_VIDEO_CAPTURE, 0U);

    auto mappings = startStreaming(owner, 2);
    v4l2_requestbuffers request{};
    request.count = 2;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    EXPECT_EQ(fake_.ioctl(other, VIDIOC_REQBUFS, &request), -EBUSY) << "the queue belongs to the first node";
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(fake_.ioctl(other, VIDIOC_S_FMT, &format), -EBUSY);

    fake_.failEveryIoctl(EIO);
    EXPECT_EQ(fake_.ioctl(other, VIDIOC_G_FMT, &format), -EIO);
    fake_.clearFailures();
    EXPECT_EQ(fake_.ioctl(other, VIDIOC_G_FMT, &format), 0);

    mappings.clear();
    fake_.close(owner);
    EXPECT_FALSE(fake_.isStreaming()) << "closing the owner stops the stream";
    EXPECT_EQ(fake_.bufferCount(), 0);
    fake_.close(other);
    EXPECT_EQ(fake_.openNodeCount(), 0);
}

}  // namespace
}  // namespace hollowkit
