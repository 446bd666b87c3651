#include "hollowkit/usb/linux/v4l2_uvc_transport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include "hollowkit/testing/fake_v4l2_device.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/usb/uvc_camera_controls.h"
#include "../usb_test_support.h"

namespace hollowkit {
namespace {

using Call = FakeV4l2Device::Call;
using testsupport::LogCapture;

Bytes le32pair(int32_t pan, int32_t tilt) {
    ByteWriter w;
    w.i32(pan).i32(tilt);
    return std::move(w).take();
}

class V4l2UvcTransportTest : public ::testing::Test {
protected:
    V4l2UvcTransportTest() : fake_(clock_) {}

    std::unique_ptr<V4l2UvcTransport> openTransport() {
        const int fd = fake_.open(fake_.path(), O_RDWR | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        return std::make_unique<V4l2UvcTransport>(V4l2Fd(fake_, fd));
    }

    // A handle as openUSBDevice would give it for the fake's node.
    std::unique_ptr<USBDeviceHandle> openHandle() {
        return std::make_unique<USBDeviceHandle>(openTransport(), 0, 1, 0x00AB);
    }

    int request(UvcTransport& transport, uint8_t code, uint8_t selector, Bytes& data) {
        return transport.controlRequest(
            makeUvcSetupPacket(code, selector, 1, 0, static_cast<uint16_t>(data.size())), data);
    }

    ManualClock clock_;
    FakeV4l2Device fake_;
};

struct MappingCase {
    const char* name;
    uint8_t request;
    uint8_t selector;
    Bytes payload;            // sent, or the expected answer of a GET
    std::vector<Call> calls;  // what the node must see
};

TEST_F(V4l2UvcTransportTest, EachSelectorAndRequestMapsToItsControls) {
    fake_.setControl({V4L2_CID_ZOOM_ABSOLUTE, "Zoom", 100, 400, 1, 100, 250, 0});
    fake_.setControl({V4L2_CID_PAN_ABSOLUTE, "Pan", -612000, 612000, 1, 0, 3600, 0});
    fake_.setControl({V4L2_CID_TILT_ABSOLUTE, "Tilt", -324000, 324000, 1, 0, -7200, 0});
    fake_.setControl({V4L2_CID_PAN_SPEED, "Pan speed", -35, 35, 1, 0, -35, 0});
    constexpr unsigned long S = VIDIOC_S_EXT_CTRLS;
    constexpr unsigned long G = VIDIOC_G_EXT_CTRLS;
    constexpr unsigned long Q = VIDIOC_QUERY_EXT_CTRL;
    constexpr uint32_t kZoom = V4L2_CID_ZOOM_ABSOLUTE;
    constexpr uint32_t kPan = V4L2_CID_PAN_ABSOLUTE;
    constexpr uint32_t kTilt = V4L2_CID_TILT_ABSOLUTE;
    constexpr uint32_t kPanSpeed = V4L2_CID_PAN_SPEED;
    constexpr uint32_t kTiltSpeed = V4L2_CID_TILT_SPEED;

    const std::vector<MappingCase> cases = {
        // The clock stands still here, so the speeds move nothing.
        {"GET_CUR relative", kUvcGetCur, 0x0E, {0xFF, 0x23, 0x00, 0x00}, {{G, 0, {{kPanSpeed, -35}, {kTiltSpeed, 0}}}}},
        {"SET_CUR relative stop", kUvcSetCur, 0x0E, {0x00, 0x00, 0x00, 0x00}, {{S, 0, {{kPanSpeed, 0}, {kTiltSpeed, 0}}}}},
        {"SET_CUR zoom", kUvcSetCur, 0x0B, {0xE8, 0x03}, {{S, 0, {{kZoom, 1000}}}}},
        {"SET_CUR zoom 250", kUvcSetCur, 0x0B, {0xFA, 0x00}, {{S, 0, {{kZoom, 250}}}}},
        {"GET_CUR zoom", kUvcGetCur, 0x0B, {0xFA, 0x00}, {{G, 0, {{kZoom, 250}}}}},
        {"GET_MIN zoom", kUvcGetMin, 0x0B, {0x64, 0x00}, {{Q, 0, {{kZoom, 0}}}}},
        {"GET_MAX zoom", kUvcGetMax, 0x0B, {0x90, 0x01}, {{Q, 0, {{kZoom, 0}}}}},
        {"GET_DEF zoom", kUvcGetDef, 0x0B, {0x64, 0x00}, {{Q, 0, {{kZoom, 0}}}}},
        {"GET_RES zoom", kUvcGetRes, 0x0B, {0x01, 0x00}, {{Q, 0, {{kZoom, 0}}}}},
        {"GET_CUR pan-tilt", kUvcGetCur, 0x0D, le32pair(3600, -7200),
         {{G, 0, {{kPan, 3600}, {kTilt, -7200}}}}},
        {"SET_CUR pan-tilt", kUvcSetCur, 0x0D, {0x40, 0xE3, 0x09, 0x00, 0x38, 0x50, 0xFF, 0xFF},
         {{S, 0, {{kPan, 648000}, {kTilt, -45000}}}}},
        {"GET_MIN pan-tilt", kUvcGetMin, 0x0D, le32pair(-612000, -324000),
         {{Q, 0, {{kPan, 0}}}, {Q, 0, {{kTilt, 0}}}}},
        {"GET_MAX pan-tilt", kUvcGetMax, 0x0D, le32pair(612000, 324000),
         {{Q, 0, {{kPan, 0}}}, {Q, 0, {{kTilt, 0}}}}},
        {"SET_CUR relative pan left", kUvcSetCur, 0x0E, {0xFF, 0x23, 0x00, 0x00}, {{S, 0, {{kPanSpeed, -35}, {kTiltSpeed, 0}}}}},
        {"SET_CUR relative tilt up", kUvcSetCur, 0x0E, {0x00, 0x00, 0x01, 0x23}, {{S, 0, {{kPanSpeed, 0}, {kTiltSpeed, 35}}}}},
        {"SET_CUR relative both", kUvcSetCur, 0x0E, {0x01, 0x23, 0xFF, 0x23}, {{S, 0, {{kPanSpeed, 35}, {kTiltSpeed, -35}}}}},
        {"GET_MIN relative", kUvcGetMin, 0x0E, {0xFF, 0x23, 0xFF, 0x23}, {{Q, 0, {{kPanSpeed, 0}}}, {Q, 0, {{kTiltSpeed, 0}}}}},
        {"GET_MAX relative", kUvcGetMax, 0x0E, {0x01, 0x23, 0x01, 0x23}, {{Q, 0, {{kPanSpeed, 0}}}, {Q, 0, {{kTiltSpeed, 0}}}}},
    };
    auto transport = openTransport();
    for (const MappingCase& c : cases) {
        fake_.clearCalls();
        Bytes data = c.request == kUvcSetCur ? c.payload : Bytes(c.payload.size(), 0);
        EXPECT_EQ(request(*transport, c.request, c.selector, data), 0) << c.name;
        EXPECT_EQ(fake_.calls(), c.calls) << c.name;
        EXPECT_EQ(hexString(data), hexString(c.payload)) << c.name;
    }
}

TEST(V4l2UvcMappingTest, RelativeBytesFollowUvcvideo) {
    // uvcvideo writes [direction, min(|value|, 255)] per axis and reads
    // direction x speed back; a zero direction means no motion.
    struct Case {
        Bytes payload;
        int64_t pan, tilt;
    };
    for (const Case& c : std::vector<Case>{{{0x01, 0x23, 0xFF, 0x10}, 35, -16},
                                           {{0x00, 0x23, 0x7F, 0x01}, 0, 1},
                                           {{0x80, 0xFF, 0x00, 0x00}, -255, 0}}) {
        const auto values = v4l2ValuesFromUvcPayload(0x0E, c.payload);
        ASSERT_TRUE(values.has_value());
        EXPECT_EQ((*values)[0].value, c.pan);
        EXPECT_EQ((*values)[1].value, c.tilt);
    }
    Bytes out(4);
    const std::vector<int64_t> fast{300, -300};
    ASSERT_TRUE(uvcPayloadFromV4l2Values(0x0E, fast, out).has_value());
    EXPECT_EQ(hexString(out), "01 ff ff ff");
}

TEST_F(V4l2UvcTransportTest, FailuresBecomeErrnoStatuses) {
    struct Case {
        const char* name;
        std::function<void(FakeV4l2Device&)> setup;
        uint8_t request;
        uint8_t selector;
        size_t length;
        int status;
        size_t ioctls;
    };
    const std::vector<Case> cases = {
        {"unmapped selector", [](auto&) {}, kUvcSetCur, 0x0C, 2, EOPNOTSUPP, 0},
        {"unmapped request", [](auto&) {}, 0x86, 0x0B, 2, EOPNOTSUPP, 0},
        {"wrong length", [](auto&) {}, kUvcGetCur, 0x0D, 7, EINVAL, 0},
        {"EIO on set", [](auto& f) { f.failIoctl(VIDIOC_S_EXT_CTRLS, EIO); }, kUvcSetCur, 0x0E, 4, EIO, 1},
        {"EIO on a limit query", [](auto& f) { f.failIoctl(VIDIOC_QUERY_EXT_CTRL, EIO, 1); }, kUvcGetMax, 0x0B,
         2, EIO, 1},
        {"control missing", [](auto& f) { f.removeControl(V4L2_CID_TILT_SPEED); }, kUvcGetMin, 0x0E, 4, EINVAL, 2},
        {"write-only control", [](auto& f) {
             f.setControl({V4L2_CID_PAN_SPEED, "Pan speed", -35, 35, 1, 0, 0, V4L2_CTRL_FLAG_WRITE_ONLY});
         }, kUvcGetCur, 0x0E, 4, EACCES, 1},
        {"limit the payload cannot hold", [](auto& f) { f.setControlRange(V4L2_CID_ZOOM_ABSOLUTE, -1, 400); },
         kUvcGetMin, 0x0B, 2, ERANGE, 1},
        {"device gone", [](auto& f) { f.vanish(); }, kUvcGetCur, 0x0D, 8, ENODEV, 1},
    };
    for (const Case& c : cases) {
        ManualClock clock;
        FakeV4l2Device fake(clock);
        V4l2UvcTransport transport(V4l2Fd(fake, fake.open(fake.path(), O_RDWR)));
        c.setup(fake);
        Bytes data(c.length, 0);
        const int status =
            transport.controlRequest(makeUvcSetupPacket(c.request, c.selector, 1, 0, static_cast<uint16_t>(c.length)), data);
        EXPECT_EQ(status, c.status) << c.name;
        EXPECT_EQ(fake.calls().size(), c.ioctls) << c.name;
    }

    V4l2UvcTransport unopened(V4l2Fd(), EACCES);
    Bytes data(2, 0);
    EXPECT_FALSE(unopened.isOpen());
    EXPECT_EQ(request(unopened, kUvcGetCur, 0x0B, data), EACCES);
}

TEST_F(V4l2UvcTransportTest, ControlsDriveTheGimbalOverTime) {
    LogCapture log;
    UVCCameraControls controls(openHandle());
    ASSERT_TRUE(controls.ranges().has_value());
    EXPECT_EQ(*controls.ranges(), (UVCCameraControls::Ranges{{-170, 170}, {-90, 90}, {100, 400}}));

    // Speed 35 at 1000 arc-seconds per unit and second: 35000 per second.
    ASSERT_TRUE(controls.move(1, -1));
    clock_.advanceSeconds(2);
    EXPECT_EQ(controls.readPanTilt(kUvcGetCur), (PanTiltArcseconds{70000, -70000}));
    ASSERT_TRUE(controls.move(0, 0));
    clock_.advanceSeconds(5);
    EXPECT_EQ(controls.readPanTilt(kUvcGetCur), (PanTiltArcseconds{70000, -70000}));

    ASSERT_TRUE(controls.setAngles(10, -5));
    EXPECT_EQ(controls.angles(), (GimbalAngles{10, -5}));
    ASSERT_TRUE(controls.move(-1, 0));
    clock_.advanceSeconds(60);
    EXPECT_EQ(controls.angles(), (GimbalAngles{-170, -5})) << "motion stops at the range's end";

    ASSERT_TRUE(controls.setZoom(1000));
    EXPECT_EQ(controls.zoom(), 400);
}

TEST_F(V4l2UvcTransportTest, BrokenDevicesGiveClearFailures) {
    {
        LogCapture log;
        fake_.failEveryIoctl(EIO);
        UVCCameraControls controls(openHandle());
        EXPECT_FALSE(controls.ranges().has_value());
        EXPECT_FALSE(controls.move(1, 0));
        EXPECT_EQ(controls.angles(), std::nullopt);
        EXPECT_TRUE(log.contains("ranges nil"));
        EXPECT_TRUE(log.contains("UVC set 0x0E failed: 0x00000005"));
        fake_.clearFailures();
    }
    {
        LogCapture log;
        fake_.setControlRange(V4L2_CID_TILT_ABSOLUTE, 324000, -324000);
        UVCCameraControls controls(openHandle());
        EXPECT_FALSE(controls.ranges().has_value());
        EXPECT_TRUE(log.contains("UVC limits unusable: tilt maximum below minimum"));
        fake_.setControlRange(V4L2_CID_TILT_ABSOLUTE, -324000, 324000);
    }
    {
        LogCapture log;
        UVCCameraControls controls(openHandle());
        ASSERT_TRUE(controls.ranges().has_value());
        fake_.vanish();
        EXPECT_FALSE(controls.setAngles(0, 0));
        EXPECT_EQ(controls.zoom(), std::nullopt);
        EXPECT_TRUE(log.contains("UVC set 0x0D failed: 0x00000013"));
    }
    EXPECT_EQ(fake_.openNodeCount(), 0) << "every handle closed its node";
}

}  // namespace
}  // namespace hollowkit
