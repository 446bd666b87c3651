#include "hollowkit/usb/linux/v4l2_video_device.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "hollowkit/testing/fake_usb_sysfs.h"
#include "hollowkit/testing/fake_v4l2_device.h"
#include "hollowkit/testing/manual_clock.h"

namespace hollowkit {
namespace {

using Fraction = FakeV4l2Device::Fraction;
constexpr auto kWait = std::chrono::seconds(10);

// A Pocket on USB: sysfs device 1-2 with its capture node video0 and a
// metadata node video1, both answered by one fake device.
struct Rig {
    ManualClock clock;
    FakeV4l2Device device{clock};
    FakeUsbSysfs sysfs;
    V4l2VideoDeviceSource source{device, sysfs.layout(), clock};

    Rig() {
        sysfs.addDevice({});
        sysfs.addVideoNode("1-2", 0, 0, "Osmo Pocket 3");
        sysfs.addVideoNode("1-2", 0, 1, "Osmo Pocket 3");
        device.addMetadataNode("/dev/video1");
    }

    std::unique_ptr<VideoCaptureDevice> open() {
        auto devices = source.devices();
        if (devices.empty()) return nullptr;
        auto opened = source.open(devices.front());
        return opened ? std::move(opened).value() : nullptr;
    }
};

// Collects what a stream delivers on its thread; the handler can be held.
class Collector {
public:
    VideoStreamHandlers handlers() {
        VideoStreamHandlers h;
        h.onFrame = [this](const VideoFrame& frame) {
            std::unique_lock lock(mutex_);
            const auto index = FakeV4l2Device::readFrameIndex(frame.planeData(0), frame.stride(0),
                                                              uint32_t(frame.width()), uint32_t(frame.height()));
            frames_.push_back(index.value_or(~0U));
            sizes_.push_back({frame.width(), frame.height()});
            changed_.notify_all();
            changed_.wait(lock, [this] { return !held_; });
        };
        h.onEnd = [this](const VideoDeviceError& error) {
            std::lock_guard lock(mutex_);
            ended_ = error;
            changed_.notify_all();
        };
        return h;
    }

    void hold(bool held) {
        std::lock_guard lock(mutex_);
        held_ = held;
        changed_.notify_all();
    }
    bool waitForFrames(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return frames_.size() >= count; });
    }
    std::optional<VideoDeviceError> waitForEnd() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kWait, [&] { return ended_.has_value(); });
        return ended_;
    }
    std::vector<uint32_t> frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    std::pair<int, int> lastSize() {
        std::lock_guard lock(mutex_);
        return sizes_.back();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> frames_;
    std::vector<std::pair<int, int>> sizes_;
    std::optional<VideoDeviceError> ended_;
    bool held_ = false;
};

TEST(V4l2VideoDeviceTest, ListsCaptureNodesOfUsbDevicesWithTheirNameAndVendor) {
    Rig rig;
    const auto devices = rig.source.devices();
    ASSERT_EQ(devices.size(), 1U);  // the metadata node is not a capture device
    EXPECT_EQ(devices[0], (VideoDeviceInfo{"/dev/video0", "Osmo Pocket 3", uint16_t{0x2CA3}, 0}));

    rig.device.failOpen(EACCES);
    const auto refused = rig.source.devices();
    ASSERT_FALSE(refused.empty());
    EXPECT_EQ(refused[0].probeError, EACCES);
}

TEST(V4l2VideoDeviceTest, EnumeratesFormatsUncompressedFirstWithEveryRate) {
    Rig rig;
    rig.device.setFormats({
        {V4L2_PIX_FMT_MJPEG, "Motion-JPEG", {{1920, 1080, {Fraction{1, 60}, Fraction{1001, 30000}}, {}}}},
        {V4L2_PIX_FMT_H264, "H.264", {{1920, 1080, {Fraction{1, 30}}, {}}}},
        {V4L2_PIX_FMT_YUYV, "YUYV 4:2:2", {{640, 480, {}, std::array{Fraction{1, 60}, Fraction{1, 5}, Fraction{1, 60}}}}},
        {V4L2_PIX_FMT_NV12, "Y/UV 4:2:0", {{1280, 720, {Fraction{1, 30}}, {}}}},
    });
    auto device = rig.open();
    ASSERT_TRUE(device);
    const std::vector<VideoDeviceFormat> expected{
        {kFourccNv12, 1280, 720, {{30, 1, 30}}},
        {kFourccYuyv, 640, 480, {{60, 1, 60}}},  // a stepwise range stands as its fastest end
        {kFourccMjpeg, 1920, 1080, {{60, 1, 60}, {30000.0 / 1001, 1001, 30000}}},
    };
    EXPECT_EQ(device->formats(), expected);
}

TEST(V4l2VideoDeviceTest, StreamsFramesInOrderAndStopsCleanly) {
    Rig rig;
    auto device = rig.open();
    ASSERT_TRUE(device);
    Collector collector;
    ASSERT_TRUE(device->start(collector.handlers()));
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(rig.device.produceFrame());
        ASSERT_TRUE(collector.waitForFrames(i + 1));
    }
    EXPECT_EQ(collector.frames(), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(collector.lastSize(), (std::pair{1920, 1080}));
    device->stop();
    EXPECT_FALSE(device->isRunning());
    EXPECT_FALSE(rig.device.isStreaming());
    EXPECT_EQ(rig.device.mappedBufferCount(), 0);
    EXPECT_EQ(rig.device.bufferCount(), 0);
}

TEST(V4l2VideoDeviceTest, DropsFramesThatArriveWhileTheHandlerIsBusy) {
    Rig rig;
    auto device = rig.open();
    ASSERT_TRUE(device);
    Collector collector;
    ASSERT_TRUE(device->start(collector.handlers()));
    collector.hold(true);
    ASSERT_TRUE(rig.device.produceFrame());
    ASSERT_TRUE(collector.waitForFrames(1));
    // Three more arrive while the handler still works on frame 0.
    ASSERT_EQ(rig.device.produceFrames(3), 3);
    collector.hold(false);
    ASSERT_TRUE(collector.waitForFrames(2));
    ASSERT_TRUE(rig.device.produceFrame());
    ASSERT_TRUE(collector.waitForFrames(3));
    EXPECT_EQ(collector.frames(), (std::vector<uint32_t>{0, 3, 4}));
    device->stop();
}

TEST(V4l2VideoDeviceTest, AppliesAFormatWhileStreamingAndDecodesMotionJpeg) {
    Rig rig;
    auto device = rig.open();
    ASSERT_TRUE(device);
    Collector collector;
    ASSERT_TRUE(device->start(collector.handlers()));
    const VideoDeviceFormat mjpeg{kFourccMjpeg, 1920, 1080, {{60, 1, 60}}};
    ASSERT_TRUE(device->applyFormat(mjpeg, mjpeg.frameRateRanges[0]));
    EXPECT_EQ(rig.device.currentFormat().pixelFormat, uint32_t{V4L2_PIX_FMT_MJPEG});
    EXPECT_EQ(rig.device.currentInterval(), (Fraction{1, 60}));
    EXPECT_TRUE(rig.device.isStreaming());
    ASSERT_TRUE(rig.device.produceFrame());
    ASSERT_TRUE(collector.waitForFrames(1));
    EXPECT_EQ(collector.frames(), (std::vector<uint32_t>{0}));
    device->stop();
}

TEST(V4l2VideoDeviceTest, ARefusedFormatLeavesTheStreamRunningAsBefore) {
    Rig rig;
    auto device = rig.open();
    ASSERT_TRUE(device);
    Collector collector;
    ASSERT_TRUE(device->start(collector.handlers()));
    rig.device.failIoctl(VIDIOC_S_FMT, EBUSY, 1);
    const VideoDeviceFormat small{kFourccNv12, 1280, 720, {{30, 1, 30}}};
    const auto applied = device->applyFormat(small, small.frameRateRanges[0]);
    ASSERT_FALSE(applied);
    EXPECT_EQ(applied.error(), (VideoDeviceError{EBUSY, "VIDIOC_S_FMT"}));
    EXPECT_EQ(applied.error().toString(), "VIDIOC_S_FMT: Device or resource busy");
    ASSERT_TRUE(rig.device.produceFrame());
    ASSERT_TRUE(collector.waitForFrames(1));
    EXPECT_EQ(collector.lastSize(), (std::pair{1920, 1080}));
    device->stop();
}

TEST(V4l2VideoDeviceTest, APassingDequeueErrorIsRiddenOutAndAVanishedDeviceEndsTheStream) {
    Rig rig;
    auto device = rig.open();
    ASSERT_TRUE(device);
    Collector collector;
    ASSERT_TRUE(device->start(collector.handlers()));
    rig.device.failIoctl(VIDIOC_DQBUF, EIO, 1);
    ASSERT_TRUE(rig.device.produceFrame());
    ASSERT_TRUE(collector.waitForFrames(1));

    rig.device.vanish();
    const auto ended = collector.waitForEnd();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->code, ENODEV);
    device->stop();
    EXPECT_EQ(rig.device.mappedBufferCount(), 0);
}

TEST(V4l2VideoDeviceTest, ADeviceThatFailsEveryIoctlCannotBeOpened) {
    Rig rig;
    rig.device.failEveryIoctl(EIO);
    const auto devices = rig.source.devices();
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices[0].probeError, EIO);
    const auto opened = rig.source.open(devices[0]);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error(), (VideoDeviceError{EIO, "VIDIOC_QUERYCAP"}));
    EXPECT_EQ(rig.device.openNodeCount(), 0);
}

}  // namespace
}  // namespace hollowkit
