#include "hollowkit/usb/pocket_device_tests.h"

#include <gtest/gtest.h>

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
