#include "hollowkit/usb/pocket_device_tests.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "hollowkit/testing/fake_usb_sysfs.h"
#include "hollowkit/testing/fake_v4l2_device.h"
#include "hollowkit/testing/manual_clock.h"
#include "hollowkit/usb/linux/sysfs_usb_bus.h"
#include "hollowkit/usb/usb_camera.h"

namespace hollowkit {
namespace {

TEST(PocketDeviceTestsTest, FindsTheCameraByNameWithoutCaseOrByVendorInDiscoveryOrder) {
    const VideoDeviceInfo webcam{"/dev/video0", "Integrated Camera", uint16_t{0x04F2}, 0};
    const VideoDeviceInfo byName{"/dev/video2", "OsmoPocket3", uint16_t{0x1234}, 0};
    const VideoDeviceInfo byVendor{"/dev/video4", "UVC Camera", uint16_t{0x2CA3}, 0};
    const VideoDeviceInfo shouting{"/dev/video6", "OSMO POCKET 3", std::nullopt, 0};

    EXPECT_EQ(findPocketDevice({webcam, byName}), byName);
    EXPECT_EQ(findPocketDevice({webcam, byVendor, byName}), byVendor);
    EXPECT_EQ(findPocketDevice({shouting, byName}), shouting);
    EXPECT_FALSE(findPocketDevice({webcam}));
    EXPECT_FALSE(findPocketDevice({}));
}

// The camera's presence comes from the bus listing alone: the question is
// asked every second while the USB guide is up, and a node held by another
// program (the open fails) must not change the answer.
TEST(PocketDeviceTestsTest, FindsTheCameraOnTheBusWithoutOpeningAnything) {
    struct Node {
        std::string device;
        std::string name;
    };
    struct Case {
        const char* what;
        std::vector<FakeUsbSysfs::Device> devices;
        std::vector<Node> nodes;
        bool present;
    };
    const FakeUsbSysfs::Device pocket;  // 2ca3, "Osmo Pocket 3", device 1-2
    const FakeUsbSysfs::Device webcam{"3-1", 0x046D, 0x0825, "Webcam C270", fakeUvcDescriptors({.vendorId = 0x046D})};
    const FakeUsbSysfs::Device makersOther{"1-4", 0x2CA3, 0x0010, "DJI Camera", fakeUvcDescriptors()};
    const FakeUsbSysfs::Device unnamedNode{"2-2", 0x1234, 0x0001, "Pocket Cam", fakeUvcDescriptors()};
    const Case cases[] = {
        {"the camera in webcam mode", {pocket}, {{"1-2", "Osmo Pocket 3"}}, true},
        {"nothing plugged in", {}, {}, false},
        {"the camera without a video node", {pocket}, {}, false},
        {"another maker's webcam", {webcam}, {{"3-1", "UVC Camera (046d:0825)"}}, false},
        {"another maker's node named after the camera", {webcam}, {{"3-1", "OSMO POCKET 3"}}, true},
        {"the maker's vendor id under any name", {makersOther}, {{"1-4", "UVC Camera"}}, true},
        {"a nameless node goes by the product", {unnamedNode}, {{"2-2", ""}}, true},
        {"the camera behind a webcam", {webcam, pocket}, {{"3-1", "Webcam"}, {"1-2", "Osmo Pocket 3"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeUsbSysfs sysfs;
        for (const auto& device : c.devices) sysfs.addDevice(device);
        int index = 0;
        for (const Node& node : c.nodes) sysfs.addVideoNode(node.device, 0, index++, node.name);
        ManualClock clock;
        FakeV4l2Device video(clock);
        video.failOpen(EBUSY);
        SysfsUsbBus bus(video, sysfs.layout());

        EXPECT_EQ(isPocketOnBus(bus), c.present);
        EXPECT_EQ(USBCamera::isPocketConnected(bus), c.present);
        EXPECT_EQ(video.openAttempts(), 0);
    }
}

TEST(PocketDeviceTestsTest, TellsMicrophonesApart) {
    struct Case {
        AudioSourceInfo source;
        bool djiMic;
        bool cameraAudio;
    };
    const Case cases[] = {
        {{"a", "DJI MIC 2 Receiver", std::nullopt}, true, false},
        {{"b", "Mic by dji", uint16_t{0x2CA3}}, true, false},  // a DJI Mic never counts as camera sound
        {{"c", "Osmo Pocket 3 Analog Stereo", std::nullopt}, false, true},
        {{"d", "USB Audio", uint16_t{0x2CA3}}, false, true},
        {{"e", "Built-in Audio", uint16_t{0x8086}}, false, false},
        {{"f", "DJI Pocket", std::nullopt}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source.name);
        EXPECT_EQ(isDJIMic(c.source), c.djiMic);
        EXPECT_EQ(isCameraAudio(c.source), c.cameraAudio);
    }
}

TEST(PocketDeviceTestsTest, AutomaticChoicePrefersADJIMicThenTheCameraThenTheDefault) {
    const AudioSourceInfo builtIn{"builtin", "Built-in Audio", std::nullopt};
    const AudioSourceInfo camera{"pocket", "Osmo Pocket 3", uint16_t{0x2CA3}};
    const AudioSourceInfo mic{"mic", "DJI Mic 2", std::nullopt};
    int defaultAsked = 0;
    const auto systemDefault = [&]() -> std::optional<AudioSourceInfo> {
        ++defaultAsked;
        return builtIn;
    };
    EXPECT_EQ(automaticMicrophone({builtIn, camera, mic}, systemDefault), mic);
    EXPECT_EQ(automaticMicrophone({builtIn, camera}, systemDefault), camera);
    EXPECT_EQ(defaultAsked, 0);
    EXPECT_EQ(automaticMicrophone({builtIn}, systemDefault), builtIn);
    EXPECT_EQ(automaticMicrophone({}, systemDefault), builtIn);
    EXPECT_EQ(defaultAsked, 2);
    EXPECT_FALSE(automaticMicrophone({}, [] { return std::optional<AudioSourceInfo>(); }));
}

}  // namespace
}  // namespace hollowkit
