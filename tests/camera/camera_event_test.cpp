#include "hollowkit/camera/camera_event.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

TEST(CameraEventTest, EachFactoryMakesItsOwnCase) {
    using Kind = CameraEvent::Kind;
    const std::pair<CameraEvent, Kind> cases[] = {
        {CameraEvent::status("Connecting"), Kind::status},
        {CameraEvent::stats(CameraStats{}), Kind::stats},
        {CameraEvent::battery(BatteryStatus{50, true}), Kind::battery},
        {CameraEvent::cardStorage(CardStorage{1, 2}), Kind::cardStorage},
        {CameraEvent::cardRecording(CardRecordingState{}), Kind::cardRecording},
        {CameraEvent::commandResult("Flip gimbal", CommandOutcome::accepted()), Kind::commandResult},
        {CameraEvent::failed("No camera"), Kind::failed},
        {CameraEvent::devicesChanged(), Kind::devicesChanged},
        {CameraEvent::cameraOff(), Kind::cameraOff},
        {CameraEvent::stopped(), Kind::stopped},
    };
    for (const auto& [event, kind] : cases) {
        EXPECT_EQ(event.kind(), kind) << static_cast<int>(kind);
    }
}

TEST(CameraEventTest, PayloadsAreReachableByType) {
    const CameraEvent result = CameraEvent::commandResult("Zoom 2.5x", CommandOutcome::rejected(0xE1));
    ASSERT_NE(result.get<CameraEvent::CommandResult>(), nullptr);
    EXPECT_EQ(result.get<CameraEvent::CommandResult>()->label, "Zoom 2.5x");
    EXPECT_EQ(result.get<CameraEvent::CommandResult>()->outcome, CommandOutcome::rejected(0xE1));
    EXPECT_NE(result.get<CameraEvent::CommandResult>()->outcome, CommandOutcome::rejected(0xE2));
    EXPECT_EQ(result.get<BatteryStatus>(), nullptr);
    // Status and failure both carry text but stay distinct cases.
    EXPECT_EQ(CameraEvent::failed("x").get<CameraEvent::Status>(), nullptr);
}

}  // namespace
}  // namespace hollowkit
