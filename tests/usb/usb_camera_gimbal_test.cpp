#include <gtest/gtest.h>

#include <cmath>

#include "hollowkit/usb/usb_camera.h"
#include "usb_camera_rig.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;
using testsupport::absoluteMove;
using testsupport::relativeMove;
using testsupport::UsbCameraRig;
using Writes = std::vector<std::vector<V4l2ControlValue>>;

constexpr int64_t kArcsecondsPerDegree = 3600;

// An opened camera whose control writes are recorded from a clean slate.
struct GimbalRig : UsbCameraRig {
    USBCamera& camera;

    GimbalRig() : camera(open()) { device.clearCalls(); }

    // Moves time on by `ticks` gimbal periods.
    void ticks(int count) { executor.advance(USBCamera::kGimbalTickPeriod * count); }
};

TEST(UsbCameraGimbalTest, SpeedRequestsBecomeRelativeMovesOnlyWhenTheDirectionChanges) {
    GimbalRig rig;
    rig.camera.gimbal().setVelocity({0, 300});
    rig.ticks(3);
    rig.camera.gimbal().setVelocity({0, 120});  // same signs: nothing new
    rig.ticks(3);
    rig.camera.gimbal().setVelocity({-40, 0});
    rig.ticks(3);
    rig.camera.gimbal().setVelocity({0, 0});
    rig.ticks(3);
    EXPECT_EQ(rig.controlWrites(), (Writes{relativeMove(1, 0), relativeMove(0, -1), relativeMove(0, 0)}));
}

TEST(UsbCameraGimbalTest, AMotionHeldPastThreeSecondsBecomesOneStop) {
    GimbalRig rig;
    rig.camera.gimbal().setVelocity({0, 300});
    rig.ticks(1);
    rig.executor.advance(2s);
    rig.camera.gimbal().setVelocity({0, -200});  // still moving: the start stays
    rig.ticks(1);
    EXPECT_EQ(rig.controlWrites(), (Writes{relativeMove(1, 0), relativeMove(-1, 0)}));
    rig.executor.advance(1s);
    rig.ticks(10);
    EXPECT_EQ(rig.controlWrites(), (Writes{relativeMove(1, 0), relativeMove(-1, 0), relativeMove(0, 0)}));
}

TEST(UsbCameraGimbalTest, ARecentreGoesFirstAndTheHeldSpeedFollowsOnTheNextTick) {
    GimbalRig rig;
    rig.camera.gimbal().setVelocity({20, 0});
    rig.ticks(1);
    rig.camera.gimbal().requestRecenter();
    rig.ticks(1);
    rig.ticks(1);
    EXPECT_EQ(rig.controlWrites(), (Writes{relativeMove(0, 1), absoluteMove(0, 0), relativeMove(0, 1)}));
}

TEST(UsbCameraGimbalTest, AStopThatFailedIsSentAgain) {
    GimbalRig rig;
    rig.camera.gimbal().setVelocity({0, 300});
    rig.ticks(1);
    rig.device.failIoctl(VIDIOC_S_EXT_CTRLS, EIO, 1);
    rig.camera.gimbal().setVelocity({0, 0});
    rig.ticks(1);
    EXPECT_TRUE(rig.log.contains("UVC set 0x0E failed"));
    rig.ticks(1);
    EXPECT_EQ(rig.controlWrites(), (Writes{relativeMove(1, 0), relativeMove(0, 0), relativeMove(0, 0)}));
    EXPECT_EQ(rig.device.controlValue(V4L2_CID_PAN_SPEED), 0);
}

TEST(UsbCameraGimbalTest, ADeviceThatRefusesEveryMoveIsAskedLessOften) {
    GimbalRig rig;
    rig.device.failIoctl(VIDIOC_S_EXT_CTRLS, EIO);
    rig.camera.gimbal().setVelocity({0, 300});
    rig.executor.advance(2s);  // 40 ticks
    rig.device.clearFailures();
    const size_t attempts = rig.controlWrites().size();
    EXPECT_GE(attempts, 5U);
    EXPECT_LE(attempts, 8U);
    rig.executor.advance(500ms);  // still within the hold limit
    EXPECT_EQ(rig.controlWrites().back(), relativeMove(1, 0));
    EXPECT_EQ(rig.device.controlValue(V4L2_CID_PAN_SPEED), 0x23);
}

TEST(UsbCameraGimbalTest, MovesToPositionsClampedToTheRangesOnlyWhenTheyAreKnown) {
    {
        GimbalRig rig;
        rig.camera.move({200, -100, 250});
        rig.executor.runUntilIdle();
        EXPECT_EQ(rig.controlWrites(), (Writes{absoluteMove(170 * kArcsecondsPerDegree, -90 * kArcsecondsPerDegree),
                                               {{V4L2_CID_ZOOM_ABSOLUTE, 250}}}));
    }
    {
        UsbCameraRig unknown;
        unknown.device.setControlRange(V4L2_CID_PAN_ABSOLUTE, 10, -10);
        USBCamera& camera = unknown.open();
        unknown.device.clearCalls();
        camera.move({150, 12.5, std::nullopt});
        unknown.executor.runUntilIdle();
        EXPECT_EQ(unknown.controlWrites(), (Writes{absoluteMove(150 * kArcsecondsPerDegree, 45000)}));
    }
}

TEST(UsbCameraGimbalTest, ZoomIsClampedToTheCameraRange) {
    GimbalRig rig;
    rig.camera.setZoom(250);
    rig.camera.setZoom(1000);
    rig.camera.setZoom(50);
    rig.executor.runUntilIdle();
    EXPECT_EQ(rig.controlWrites(),
              (Writes{{{V4L2_CID_ZOOM_ABSOLUTE, 250}}, {{V4L2_CID_ZOOM_ABSOLUTE, 400}}, {{V4L2_CID_ZOOM_ABSOLUTE, 100}}}));
}

TEST(UsbCameraGimbalTest, ReadsThePositionAndFlipsAroundKeepingTheTilt) {
    struct Case {
        double pan;
        double expectedPan;
    };
    for (const Case& c : {Case{45, 180}, Case{170, 0}, Case{-89.9, 180}, Case{90, 0}}) {
        SCOPED_TRACE(c.pan);
        UsbCameraRig rig;
        // A pan range that reaches 180 degrees, so the flip is not clamped.
        rig.device.setControlRange(V4L2_CID_PAN_ABSOLUTE, -180 * kArcsecondsPerDegree, 180 * kArcsecondsPerDegree);
        USBCamera& camera = rig.open();
        auto pan = FakeV4l2Device::pocketControls()[0];
        pan.minimum = -180 * kArcsecondsPerDegree;
        pan.maximum = 180 * kArcsecondsPerDegree;
        pan.value = std::llround(c.pan * kArcsecondsPerDegree);
        rig.device.setControl(pan);
        auto tilt = FakeV4l2Device::pocketControls()[1];
        tilt.value = -12 * kArcsecondsPerDegree;
        rig.device.setControl(tilt);

        const auto position = camera.currentPosition();
        ASSERT_TRUE(position);
        EXPECT_NEAR(position->pan, c.pan, 1e-9);
        EXPECT_EQ(position->tilt, -12);
        EXPECT_EQ(position->zoom, 100);

        rig.device.clearCalls();
        camera.flipGimbal();
        rig.executor.runUntilIdle();
        EXPECT_EQ(rig.controlWrites(),
                  (Writes{absoluteMove(std::llround(c.expectedPan * kArcsecondsPerDegree), -12 * kArcsecondsPerDegree)}));
    }
}

TEST(UsbCameraGimbalTest, APositionWhoseZoomCannotBeReadHasNoZoom) {
    GimbalRig rig;
    rig.device.removeControl(V4L2_CID_ZOOM_ABSOLUTE);
    const auto position = rig.camera.currentPosition();
    ASSERT_TRUE(position);
    EXPECT_FALSE(position->zoom);

    rig.device.failIoctl(VIDIOC_G_EXT_CTRLS, EIO);
    EXPECT_FALSE(rig.camera.currentPosition());
    rig.camera.flipGimbal();  // nothing to flip from
    rig.executor.runUntilIdle();
    EXPECT_TRUE(rig.controlWrites().empty());
}

TEST(UsbCameraGimbalTest, StatisticsEveryTwoSecondsCountFramesAndReadTheAttitude) {
    GimbalRig rig;
    auto pan = FakeV4l2Device::pocketControls()[0];
    pan.value = 30 * kArcsecondsPerDegree;
    rig.device.setControl(pan);
    for (int i = 0; i < 60; ++i) ASSERT_TRUE(rig.deliverFrame());
    rig.executor.advance(2s);
    rig.executor.advance(2s);
    const auto stats = rig.stats();
    ASSERT_EQ(stats.size(), 2U);
    EXPECT_TRUE(stats[0].hasPicture);
    EXPECT_DOUBLE_EQ(stats[0].framesPerSecond, 30);
    EXPECT_TRUE(stats[0].gimbalResponding);
    EXPECT_EQ(stats[0].attitude, (GimbalAttitude{0, 0, 30}));
    EXPECT_EQ(stats[0].resolution, (VideoDimensions{1920, 1080}));
    EXPECT_FALSE(stats[0].transportLag);
    EXPECT_FALSE(stats[1].hasPicture);
    EXPECT_EQ(stats[1].framesPerSecond, 0);
}

TEST(UsbCameraGimbalTest, TheFirstStatisticsCountFromTheTimersNotFromConstruction) {
    UsbCameraRig rig;
    rig.make();
    rig.executor.advance(10s);  // a slow start: the camera was built long ago
    rig.camera->start();
    rig.executor.runUntilIdle();
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(rig.deliverFrame());
    rig.executor.advance(2s);
    ASSERT_EQ(rig.stats().size(), 1U);
    EXPECT_DOUBLE_EQ(rig.stats()[0].framesPerSecond, 10);
}

}  // namespace
}  // namespace hollowkit
