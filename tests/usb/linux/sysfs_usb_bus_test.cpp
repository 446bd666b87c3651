#include "hollowkit/usb/linux/sysfs_usb_bus.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include "hollowkit/testing/fake_usb_sysfs.h"
#include "hollowkit/testing/fake_v4l2_device.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/usb/uvc_camera_controls.h"
#include "../usb_test_support.h"

namespace hollowkit {
namespace {

using testsupport::LogCapture;

class SysfsUsbBusTest : public ::testing::Test {
protected:
    SysfsUsbBusTest() : fake_(clock_, "/dev/video2"), bus_(fake_, sysfs_.layout()) {}

    FakeUsbSysfs sysfs_;
    ManualClock clock_;
    FakeV4l2Device fake_;
    SysfsUsbBus bus_;
};

TEST_F(SysfsUsbBusTest, ListsDevicesAndTheirVideoNodes) {
    sysfs_.addDevice({.name = "3-1", .vendorId = 0x046D, .productId = 0x0825, .product = "Webcam C270"});
    sysfs_.addDevice({.name = "1-2", .vendorId = 0x2CA3, .productId = 0x00AB, .product = "Osmo Pocket 3"});
    sysfs_.addVideoNode("1-2", 0, 3, "Osmo Pocket 3: Metadata");
    sysfs_.addVideoNode("1-2", 0, 2, "Osmo Pocket 3: Osmo Pocket 3");
    sysfs_.addVideoNode("1-2", 4, 1, "Osmo Pocket 3: other function");
    sysfs_.writeFile("bus/usb/devices/usb1/idVendor", "1d6b\n");
    sysfs_.writeFile("bus/usb/devices/1-9/idVendor", "not hex\n");
    sysfs_.writeFile("bus/usb/devices/1-2:1.0/uevent", "");

    const auto devices = listUsbDevices(sysfs_.layout());
    ASSERT_EQ(devices.size(), 3U) << "interfaces and unreadable ids are left out";
    EXPECT_EQ(devices[0], (UsbDeviceRecord{"1-2", 0x2CA3, 0x00AB, "Osmo Pocket 3"}));
    EXPECT_EQ(devices[1], (UsbDeviceRecord{"3-1", 0x046D, 0x0825, "Webcam C270"}));
    EXPECT_EQ(devices[2].name, "usb1");

    const auto nodes = usbVideoNodesOf(sysfs_.layout(), devices[0], uint8_t{0});
    ASSERT_EQ(nodes.size(), 3U);
    EXPECT_EQ(nodes[0].devicePath, "/dev/video2");
    EXPECT_EQ(nodes[0].name, "Osmo Pocket 3: Osmo Pocket 3");
    EXPECT_EQ(nodes[0].interfaceNumber, 0);
    EXPECT_EQ(nodes[1].node, "video3");
    EXPECT_EQ(nodes[2].node, "video1") << "nodes of other interfaces come last";
    EXPECT_EQ(nodes[2].interfaceNumber, 4);

    const auto all = listUsbVideoNodes(sysfs_.layout());
    ASSERT_EQ(all.size(), 3U);
    EXPECT_EQ(all[0].node, "video1") << "without a preference, by node number";
    EXPECT_EQ(all[0].device.vendorId, 0x2CA3);
}

TEST_F(SysfsUsbBusTest, OpensTheCameraThroughItsCaptureNode) {
    LogCapture log;
    sysfs_.addDevice({.name = "1-1", .vendorId = 0x2CA3, .productId = 0x0001,
                      .descriptors = fakeUvcDescriptors({.videoControl = false})});
    sysfs_.addDevice({.name = "1-2", .productId = 0x00AB,
                      .descriptors = fakeUvcDescriptors({.controlInterface = 0, .cameraTerminalId = 4})});
    fake_.addMetadataNode("/dev/video1");
    sysfs_.addVideoNode("1-2", 0, 1, "metadata");
    sysfs_.addVideoNode("1-2", 0, 2, "capture");

    auto controls = UVCCameraControls::open(bus_);

    ASSERT_NE(controls, nullptr);
    EXPECT_EQ(controls->device().productId(), 0x00AB);
    EXPECT_EQ(controls->device().cameraTerminalId(), 4);
    EXPECT_TRUE(controls->device().isOpen());
    EXPECT_TRUE(controls->ranges().has_value()) << "the limits came from the capture node";
    EXPECT_TRUE(log.contains("UVC controls open: product 0xab terminal 4 ranges Ranges("));
    EXPECT_EQ(fake_.openNodeCount(), 1) << "the metadata node was closed again";
    controls.reset();
    EXPECT_EQ(fake_.openNodeCount(), 0);
}

TEST_F(SysfsUsbBusTest, NodesThatCannotBeOpenedLeaveAClosedHandle) {
    LogCapture log;
    sysfs_.addDevice({});
    sysfs_.addVideoNode("1-2", 0, 2, "capture");
    fake_.failOpen(EACCES);

    auto controls = UVCCameraControls::open(bus_);

    ASSERT_NE(controls, nullptr);
    EXPECT_FALSE(controls->device().isOpen());
    EXPECT_FALSE(controls->ranges().has_value());
    EXPECT_FALSE(controls->move(1, 0));
    EXPECT_TRUE(log.contains("UVC set 0x0E failed: 0x0000000D"));
}

TEST_F(SysfsUsbBusTest, NoUsableCameraGivesNoControls) {
    struct Case {
        const char* name;
        std::function<void(FakeUsbSysfs&, FakeV4l2Device&)> build;
    };
    const std::vector<Case> cases = {
        {"no devices", [](auto&, auto&) {}},
        {"another vendor", [](auto& s, auto&) {
             s.addDevice({.vendorId = 0x046D});
             s.addVideoNode("1-2", 0, 2, "capture");
         }},
        {"no video node", [](auto& s, auto&) { s.addDevice({}); }},
        {"only a metadata node", [](auto& s, auto& f) {
             s.addDevice({});
             s.addVideoNode("1-2", 0, 1, "metadata");
             f.addMetadataNode("/dev/video1");
         }},
        {"no descriptors file", [](auto& s, auto&) {
             s.addDevice({.descriptors = std::nullopt});
             s.addVideoNode("1-2", 0, 2, "capture");
         }},
        {"unplugged", [](auto& s, auto& f) {
             s.addDevice({});
             s.addVideoNode("1-2", 0, 2, "capture");
             s.removeDevice("1-2");
             f.vanish();
         }},
    };
    for (const Case& c : cases) {
        FakeUsbSysfs sysfs;
        ManualClock clock;
        FakeV4l2Device fake(clock, "/dev/video2");
        c.build(sysfs, fake);
        SysfsUsbBus bus(fake, sysfs.layout());
        EXPECT_EQ(UVCCameraControls::open(bus), nullptr) << c.name;
        EXPECT_EQ(fake.openNodeCount(), 0) << c.name;
    }
}

TEST_F(SysfsUsbBusTest, ANodeThatFailsQueryCapStillCarriesRequests) {
    LogCapture log;
    sysfs_.addDevice({});
    sysfs_.addVideoNode("1-2", 0, 2, "capture");
    fake_.failEveryIoctl(EIO);

    auto controls = UVCCameraControls::open(bus_);

    ASSERT_NE(controls, nullptr);
    EXPECT_TRUE(controls->device().isOpen());
    EXPECT_FALSE(controls->ranges().has_value());
    EXPECT_FALSE(controls->setZoom(200));
    EXPECT_TRUE(log.contains("UVC set 0x0B failed: 0x00000005"));
}

}  // namespace
}  // namespace hollowkit
