#include "hollowkit/usb/uvc_camera_controls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include "usb_test_support.h"

namespace hollowkit {
namespace {

using testsupport::scriptedHandle;
using testsupport::TransportScript;
using testsupport::LogCapture;

Bytes le32pair(int32_t pan, int32_t tilt) {
    ByteWriter w;
    w.i32(pan).i32(tilt);
    return std::move(w).take();
}

Bytes le16(uint16_t value) {
    ByteWriter w;
    w.u16(value);
    return std::move(w).take();
}

// A device whose limits are pan -170...170, tilt -90...90 degrees and zoom
// 100...400.
void answerPocketLimits(TransportScript& script) {
    script.answers[{kUvcGetMin, kUvcCtPanTiltAbsolute}] = le32pair(-612000, -324000);
    script.answers[{kUvcGetMax, kUvcCtPanTiltAbsolute}] = le32pair(612000, 324000);
    script.answers[{kUvcGetMin, kUvcCtZoomAbsolute}] = le16(100);
    script.answers[{kUvcGetMax, kUvcCtZoomAbsolute}] = le16(400);
}

struct PayloadCase {
    const char* name;
    bool withRanges;
    std::function<bool(UVCCameraControls&)> action;
    uint8_t selector;
    Bytes bytes;
};

TEST(UVCCameraControlsTest, EveryPayloadByteForByte) {
    const std::vector<PayloadCase> cases = {
        {"move pan -5", false, [](auto& c) { return c.move(-5, 0); }, 0x0E, {0xFF, 0x23, 0x00, 0x00}},
        {"move tilt 2", false, [](auto& c) { return c.move(0, 2); }, 0x0E, {0x00, 0x00, 0x01, 0x23}},
        {"move stop", false, [](auto& c) { return c.move(0, 0); }, 0x0E, {0x00, 0x00, 0x00, 0x00}},
        {"move both", false, [](auto& c) { return c.move(300, -40); }, 0x0E, {0x01, 0x23, 0xFF, 0x23}},
        {"angles 180, -12.5", false, [](auto& c) { return c.setAngles(180, -12.5); }, 0x0D,
         {0x40, 0xE3, 0x09, 0x00, 0x38, 0x50, 0xFF, 0xFF}},
        {"angles below half an arc-second", false, [](auto& c) { return c.setAngles(0.0001, -0.0002); }, 0x0D,
         {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"halves round away from zero", false, [](auto& c) { return c.setAngles(0.03125, -0.03125); }, 0x0D,
         le32pair(113, -113)},
        {"angles are not clamped to the ranges", true, [](auto& c) { return c.setAngles(200, -100); }, 0x0D,
         le32pair(720000, -360000)},
        {"angles beyond 32 bits are clamped to them", false, [](auto& c) { return c.setAngles(1e9, -1e9); }, 0x0D,
         le32pair(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min())},
        {"zoom below the range", true, [](auto& c) { return c.setZoom(50); }, 0x0B, {0x64, 0x00}},
        {"zoom above the range", true, [](auto& c) { return c.setZoom(1000); }, 0x0B, {0x90, 0x01}},
        {"zoom without ranges", false, [](auto& c) { return c.setZoom(1000); }, 0x0B, {0xE8, 0x03}},
        // Without ranges the value still has to fit the 16-bit control:
        // -1 must not become the largest zoom.
        {"negative zoom without ranges", false, [](auto& c) { return c.setZoom(-1); }, 0x0B, {0x00, 0x00}},
        {"huge zoom without ranges", false, [](auto& c) { return c.setZoom(70000); }, 0x0B, {0xFF, 0xFF}},
    };
    LogCapture log;
    for (const PayloadCase& c : cases) {
        auto script = std::make_shared<TransportScript>();
        if (c.withRanges) answerPocketLimits(*script);
        UVCCameraControls controls(scriptedHandle(script, 0x00AB, 1, 0));
        ASSERT_EQ(controls.ranges().has_value(), c.withRanges) << c.name;
        const size_t before = script->sentCopy().size();

        EXPECT_TRUE(c.action(controls)) << c.name;

        const auto sent = script->sentCopy();
        ASSERT_EQ(sent.size(), before + 1) << c.name;
        const auto& request = sent.back();
        EXPECT_EQ(request.setup, (UvcSetupPacket{0x21, 0x01, static_cast<uint16_t>(c.selector << 8), 0x0100,
                                                 static_cast<uint16_t>(c.bytes.size())}))
            << c.name;
        EXPECT_EQ(hexString(request.data), hexString(c.bytes)) << c.name;
    }
}

TEST(UVCCameraControlsTest, ReadsRangesInOrderAndLogsThem) {
    LogCapture log;
    auto script = std::make_shared<TransportScript>();
    answerPocketLimits(*script);

    UVCCameraControls controls(scriptedHandle(script, 0x00AB, 1, 0));

    ASSERT_TRUE(controls.ranges().has_value());
    EXPECT_EQ(*controls.ranges(), (UVCCameraControls::Ranges{{-170, 170}, {-90, 90}, {100, 400}}));
    const auto sent = script->sentCopy();
    ASSERT_EQ(sent.size(), 4U);
    const std::vector<UvcSetupPacket> expected = {
        {0xA1, 0x82, 0x0D00, 0x0100, 8},
        {0xA1, 0x83, 0x0D00, 0x0100, 8},
        {0xA1, 0x82, 0x0B00, 0x0100, 2},
        {0xA1, 0x83, 0x0B00, 0x0100, 2},
    };
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(sent[i].setup, expected[i]) << i;
    EXPECT_TRUE(log.contains(
        "UVC controls open: product 0xab terminal 1 ranges "
        "Ranges(pan: -170.0...170.0, tilt: -90.0...90.0, zoom: 100...400)"));
}

TEST(UVCCameraControlsTest, FirstFailedLimitEndsTheReading) {
    const std::vector<std::pair<uint8_t, uint8_t>> steps = {
        {kUvcGetMin, kUvcCtPanTiltAbsolute},
        {kUvcGetMax, kUvcCtPanTiltAbsolute},
        {kUvcGetMin, kUvcCtZoomAbsolute},
        {kUvcGetMax, kUvcCtZoomAbsolute},
    };
    for (size_t failing = 0; failing < steps.size(); ++failing) {
        LogCapture log;
        auto script = std::make_shared<TransportScript>();
        answerPocketLimits(*script);
        script->failures[steps[failing]] = 5;

        UVCCameraControls controls(scriptedHandle(script, 0x1234, 9, 2));

        EXPECT_FALSE(controls.ranges().has_value()) << failing;
        EXPECT_EQ(script->sentCopy().size(), failing + 1) << "later limits are not asked for";
        EXPECT_TRUE(log.contains("UVC controls open: product 0x1234 terminal 9 ranges nil")) << failing;
        EXPECT_FALSE(log.contains("failed")) << "failed reads are not logged";
    }
}

TEST(UVCCameraControlsTest, MaximumBelowMinimumGivesNoRanges) {
    struct Case {
        const char* axis;
        std::function<void(TransportScript&)> spoil;
    };
    const std::vector<Case> cases = {
        {"pan", [](auto& s) { s.answers[{kUvcGetMax, kUvcCtPanTiltAbsolute}] = le32pair(-612001, 324000); }},
        {"tilt", [](auto& s) { s.answers[{kUvcGetMax, kUvcCtPanTiltAbsolute}] = le32pair(612000, -324001); }},
        {"zoom", [](auto& s) { s.answers[{kUvcGetMax, kUvcCtZoomAbsolute}] = le16(99); }},
    };
    for (const Case& c : cases) {
        LogCapture log;
        auto script = std::make_shared<TransportScript>();
        answerPocketLimits(*script);
        c.spoil(*script);

        UVCCameraControls controls(scriptedHandle(script));

        EXPECT_FALSE(controls.ranges().has_value()) << c.axis;
        EXPECT_TRUE(log.contains(std::string("UVC limits unusable: ") + c.axis + " maximum below minimum")) << c.axis;
        EXPECT_TRUE(controls.setZoom(1000)) << "zoom then goes unclamped";
        EXPECT_EQ(hexString(script->sentCopy().back().data), "e8 03") << c.axis;
    }
}

TEST(UVCCameraControlsTest, FailedSetIsLoggedAndNotRetried) {
    LogCapture log;
    auto script = std::make_shared<TransportScript>();
    script->failures[{kUvcSetCur, kUvcCtPanTiltRelative}] = 5;  // EIO
    script->failures[{kUvcSetCur, kUvcCtZoomAbsolute}] = -1;
    UVCCameraControls controls(scriptedHandle(script));
    const size_t before = script->sentCopy().size();

    EXPECT_FALSE(controls.move(1, 0));
    EXPECT_FALSE(controls.setZoom(200));
    EXPECT_TRUE(controls.setAngles(0, 0));

    EXPECT_EQ(script->sentCopy().size(), before + 3);
    EXPECT_TRUE(log.contains("UVC set 0x0E failed: 0x00000005"));
    EXPECT_TRUE(log.contains("UVC set 0x0B failed: 0xFFFFFFFF"));
}

TEST(UVCCameraControlsTest, AnglesThatAreNotNumbersAreRefused) {
    LogCapture log;
    auto script = std::make_shared<TransportScript>();
    UVCCameraControls controls(scriptedHandle(script));
    const size_t before = script->sentCopy().size();

    EXPECT_FALSE(controls.setAngles(std::nan(""), 0));
    EXPECT_FALSE(controls.setAngles(0, std::numeric_limits<double>::infinity()));

    EXPECT_EQ(script->sentCopy().size(), before);
    EXPECT_TRUE(log.contains("UVC angles refused"));
}

TEST(UVCCameraControlsTest, ReadsCurrentPositionAndZoom) {
    LogCapture log;
    auto script = std::make_shared<TransportScript>();
    UVCCameraControls controls(scriptedHandle(script));
    EXPECT_EQ(controls.angles(), std::nullopt);
    EXPECT_EQ(controls.zoom(), std::nullopt);

    script->answers[{kUvcGetCur, kUvcCtPanTiltAbsolute}] = le32pair(648000, -45000);
    script->answers[{kUvcGetCur, kUvcCtZoomAbsolute}] = le16(65535);

    EXPECT_EQ(controls.angles(), (GimbalAngles{180, -12.5}));
    EXPECT_EQ(controls.readPanTilt(kUvcGetCur), (PanTiltArcseconds{648000, -45000}));
    EXPECT_EQ(controls.zoom(), 65535) << "zoom reads as unsigned";
    EXPECT_EQ(controls.get(kUvcGetCur, kUvcCtZoomAbsolute, 2), le16(65535));
    EXPECT_EQ(script->sentCopy().back().setup, (UvcSetupPacket{0xA1, 0x81, 0x0B00, 0x0100, 2}));
}

// The lock must keep transfers from overlapping on the device.
class OverlapDetectingTransport final : public UvcTransport {
public:
    int controlRequest(const UvcSetupPacket&, std::span<uint8_t>) override {
        if (inFlight_.fetch_add(1) != 0) overlapped_ = true;
        for (int i = 0; i < 50; ++i) std::this_thread::yield();
        inFlight_.fetch_sub(1);
        return 0;
    }
    bool isOpen() const override { return true; }

    std::atomic<bool>& overlapped() { return overlapped_; }

private:
    std::atomic<int> inFlight_{0};
    std::atomic<bool> overlapped_{false};
};

TEST(UVCCameraControlsTest, OneTransferAtATime) {
    LogCapture log;
    auto transport = std::make_unique<OverlapDetectingTransport>();
    auto* seen = transport.get();
    UVCCameraControls controls(std::make_unique<USBDeviceHandle>(std::move(transport), 0, 1, 0xAB));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&controls, t] {
            for (int i = 0; i < 200; ++i) {
                switch ((t + i) % 4) {
                    case 0: controls.move(i % 3 - 1, 0); break;
                    case 1: controls.setAngles(i, -i); break;
                    case 2: controls.setZoom(100 + i); break;
                    default: controls.angles(); break;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_FALSE(seen->overlapped().load());
}

}  // namespace
}  // namespace hollowkit
