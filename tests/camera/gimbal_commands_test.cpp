#include "hollowkit/camera/gimbal_commands.h"

#include <gtest/gtest.h>

#include "hollowkit/testing/manual_clock.h"

namespace hollowkit {
namespace {

using std::chrono::milliseconds;

TEST(GimbalVelocityTest, ClampedAndZero) {
    EXPECT_TRUE(GimbalVelocity::zero.isZero());
    EXPECT_FALSE((GimbalVelocity{0, 1}).isZero());
    EXPECT_EQ((GimbalVelocity{900, -551}).clamped(), (GimbalVelocity{550, -550}));
    EXPECT_EQ((GimbalVelocity{-3, 550}).clamped(), (GimbalVelocity{-3, 550}));
}

TEST(GimbalSpeedPayloadTest, Vectors) {
    const struct {
        int pitch, yaw;
        const char* hex;
    } cases[] = {
        {0, 0, "00040000000400802200"},
        {550, -550, "26060000da0100802200"},
        {-1, 1, "ff030000010400802200"},
        // Out of range speeds are clamped, never wrapped.
        {-2000, 5000, "da010000260600802200"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hexString(gimbalSpeedPayload(c.pitch, c.yaw), ""), c.hex)
            << c.pitch << "," << c.yaw;
    }
}

TEST(GimbalAttitudeTest, DecodesTenthsOfADegree) {
    const struct {
        const char* name;
        Bytes payload;
        std::optional<GimbalAttitude> expected;
    } cases[] = {
        {"vector", {0x84, 0x03, 0x00, 0x00, 0x7C, 0xFC}, GimbalAttitude{90.0, 0.0, -90.0}},
        {"extremes and trailing bytes", {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF, 0x12},
         GimbalAttitude{-3276.8, 3276.7, -0.1}},
        {"5 bytes", {0x84, 0x03, 0x00, 0x00, 0x7C}, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GimbalAttitude::fromPayload(c.payload), c.expected) << c.name;
    }
}

class GimbalCommandsTest : public ::testing::Test {
protected:
    ManualClock clock;
    GimbalCommands gimbal{clock};
};

TEST_F(GimbalCommandsTest, StartsAtRest) {
    EXPECT_EQ(gimbal.currentVelocity(), GimbalVelocity::zero);
    EXPECT_EQ(gimbal.storedVelocity(), GimbalVelocity::zero);
    EXPECT_FALSE(gimbal.moveStarted());
    EXPECT_FALSE(gimbal.takeRecenterRequest());
}

TEST_F(GimbalCommandsTest, ChangingSpeedKeepsTheStartZeroClearsIt) {
    const TimePoint t0 = clock.now();
    gimbal.setVelocity({100, 0});
    EXPECT_EQ(gimbal.moveStarted(), t0);

    clock.advance(milliseconds(500));
    gimbal.setVelocity({200, 50});
    EXPECT_EQ(gimbal.moveStarted(), t0);
    EXPECT_EQ(gimbal.currentVelocity(), (GimbalVelocity{200, 50}));

    gimbal.setVelocity(GimbalVelocity::zero);
    EXPECT_FALSE(gimbal.moveStarted());
    EXPECT_EQ(gimbal.currentVelocity(), GimbalVelocity::zero);

    clock.advance(milliseconds(100));
    gimbal.setVelocity({0, 30});
    EXPECT_EQ(gimbal.moveStarted(), clock.now());
}

TEST_F(GimbalCommandsTest, MotionCountsForLessThanThreeSeconds) {
    const GimbalVelocity v{-40, 300};
    gimbal.setVelocity(v);
    clock.advance(milliseconds(2900));
    EXPECT_EQ(gimbal.currentVelocity(), v);
    clock.advance(milliseconds(99));
    EXPECT_EQ(gimbal.currentVelocity(), v);
    clock.advance(milliseconds(1));  // exactly 3.0 s
    EXPECT_EQ(gimbal.currentVelocity(), GimbalVelocity::zero);
    EXPECT_EQ(gimbal.storedVelocity(), v);

    // A new speed during the expired motion does not restart it...
    gimbal.setVelocity({10, 10});
    EXPECT_EQ(gimbal.currentVelocity(), GimbalVelocity::zero);
    // ...a release and a new press do.
    gimbal.setVelocity(GimbalVelocity::zero);
    gimbal.setVelocity({10, 10});
    EXPECT_EQ(gimbal.currentVelocity(), (GimbalVelocity{10, 10}));
}

TEST_F(GimbalCommandsTest, RecenterRequestsCollapseUntilTaken) {
    gimbal.requestRecenter();
    gimbal.requestRecenter();
    EXPECT_TRUE(gimbal.takeRecenterRequest());
    EXPECT_FALSE(gimbal.takeRecenterRequest());
    gimbal.requestRecenter();
    EXPECT_TRUE(gimbal.takeRecenterRequest());
}

}  // namespace
}  // namespace hollowkit
