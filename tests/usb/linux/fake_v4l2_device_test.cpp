// The fake camera's capture side, checked as capture code would use it:
// the enumeration, the streaming ioctls through the seam, the pictures and
// the faults. The USB camera's own tests rely on these behaviours.

#include "hollowkit/testing/fake_v4l2_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>

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

TEST_F(FakeV4l2DeviceTest, EnumeratesFormatsSizesAndIntervals) {
    FakeV4l2Device::FrameSize stepwise{1280, 720, {}, std::array<FakeV4l2Device::Fraction, 3>{{{1, 60}, {1, 5}, {1, 60}}}};
    fake_.setFormats({{V4L2_PIX_FMT_YUYV, "YUYV", {{640, 480, {{1, 30}, {1001, 30000}}, {}}, stepwise}},
                      {V4L2_PIX_FMT_MJPEG, "MJPEG", {{1920, 1080, {{1, 60}}, {}}}}});
    const int fd = openNode();

    std::vector<uint32_t> pixelFormats;
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (; fake_.ioctl(fd, VIDIOC_ENUM_FMT, &desc) == 0; desc.index++) {
        pixelFormats.push_back(desc.pixelformat);
        EXPECT_EQ((desc.flags & V4L2_FMT_FLAG_COMPRESSED) != 0, desc.pixelformat == V4L2_PIX_FMT_MJPEG);
    }
    EXPECT_EQ(pixelFormats, (std::vector<uint32_t>{V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG}));

    v4l2_frmsizeenum size{};
    size.index = 1;
    size.pixel_format = V4L2_PIX_FMT_YUYV;
    ASSERT_EQ(fake_.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size), 0);
    EXPECT_EQ(size.discrete.width, 1280U);
    size.index = 2;
    EXPECT_EQ(fake_.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size), -EINVAL);

    v4l2_frmivalenum interval{};
    interval.index = 1;
    interval.pixel_format = V4L2_PIX_FMT_YUYV;
    interval.width = 640;
    interval.height = 480;
    ASSERT_EQ(fake_.ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval), 0);
    EXPECT_EQ(interval.discrete.numerator, 1001U);
    interval.index = 0;
    interval.width = 1280;
    interval.height = 720;
    ASSERT_EQ(fake_.ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval), 0);
    EXPECT_EQ(interval.type, static_cast<uint32_t>(V4L2_FRMIVAL_TYPE_STEPWISE));
    EXPECT_EQ(interval.stepwise.max.denominator, 5U);

    // S_PARM picks the nearest interval of the current size.
    setFormat(fd, V4L2_PIX_FMT_YUYV, 640, 480);
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = {1, 29};
    ASSERT_EQ(fake_.ioctl(fd, VIDIOC_S_PARM, &parm), 0);
    EXPECT_EQ(fake_.currentInterval(), (FakeV4l2Device::Fraction{1001, 30000}));
    fake_.close(fd);
}

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

TEST_F(FakeV4l2DeviceTest, YuyvAndMjpegCarryTheFrameNumberToo) {
    {
        const int fd = openNode();
        setFormat(fd, V4L2_PIX_FMT_YUYV, 640, 480);
        auto mappings = startStreaming(fd, 1);
        ASSERT_TRUE(fake_.produceFrame());
        v4l2_buffer buffer;
        ASSERT_EQ(dequeue(fd, buffer), 0);
        std::vector<uint8_t> luma(640 * 480);
        for (size_t i = 0; i < luma.size(); ++i) luma[i] = mappings[0].data()[2 * i];
        EXPECT_EQ(FakeV4l2Device::readFrameIndex(luma.data(), 640, 640, 480), 0U);
        mappings.clear();
        fake_.close(fd);
    }
    const int fd = openNode();
    setFormat(fd, V4L2_PIX_FMT_MJPEG, 1920, 1080);
    auto mappings = startStreaming(fd, 1);
    v4l2_buffer buffer;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(fake_.produceFrame());
        ASSERT_EQ(dequeue(fd, buffer), 0);
        if (i < 5) {
            ASSERT_EQ(fake_.ioctl(fd, VIDIOC_QBUF, &buffer), 0);
        }
    }
    ASSERT_LT(buffer.bytesused, buffer.length);
    tjhandle decoder = tjInitDecompress();
    std::vector<uint8_t> gray(1920 * 1080);
    ASSERT_EQ(tjDecompress2(decoder, mappings[0].data(), buffer.bytesused, gray.data(), 1920, 1920, 1080, TJPF_GRAY, 0), 0);
    tjDestroy(decoder);
    EXPECT_EQ(FakeV4l2Device::readFrameIndex(gray.data(), 1920, 1920, 1080), 5U);
    mappings.clear();
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
