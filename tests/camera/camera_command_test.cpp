#include "hollowkit/camera/camera_command.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

struct CommandCase {
    const char* name;
    CameraCommand command;
    uint8_t cmdSet, cmdId;
    int receiverType;
    const char* payloadHex;
    bool reportsSuccess;
    const char* label;
};

void expectCommand(const CommandCase& c) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.command.cmdSet, c.cmdSet);
    EXPECT_EQ(c.command.cmdId, c.cmdId);
    EXPECT_EQ(c.command.receiverType, c.receiverType);
    EXPECT_EQ(c.command.receiverId, 0);
    EXPECT_EQ(c.command.cmdType, 2);
    EXPECT_EQ(hexString(c.command.payload), hexString(bytesFromHex(c.payloadHex)));
    EXPECT_EQ(c.command.reportsSuccess, c.reportsSuccess);
    EXPECT_EQ(c.command.label, c.label);
}

TEST(CameraCommandTest, FixedAndZoomCommands) {
    const CommandCase cases[] = {
        {"flip", CameraCommand::flipGimbal(), 0x04, 0x4C, 4, "fe09", true, "Flip gimbal"},
        {"card start", CameraCommand::cardRecording(true), 0x02, 0x02, 1, "01", true,
         "Start recording to the microSD card"},
        {"card stop", CameraCommand::cardRecording(false), 0x02, 0x02, 1, "00", true,
         "Stop recording to the microSD card"},
        {"zoom 100", CameraCommand::zoom(100), 0x02, 0xB8, 1, "0a4ed900", false, "Zoom 1.0x"},
        {"zoom 250", CameraCommand::zoom(250), 0x02, 0xB8, 1, "0a4e1e02", false, "Zoom 2.5x"},  // 542, remainder dropped
        {"zoom 400", CameraCommand::zoom(400), 0x02, 0xB8, 1, "0a4e6403", false, "Zoom 4.0x"},  // 868
        {"zoom 1200", CameraCommand::zoom(1200), 0x02, 0xB8, 1, "0a4e2c0a", false, "Zoom 12.0x"},  // 2604
        {"zoom 50 clamps up", CameraCommand::zoom(50), 0x02, 0xB8, 1, "0a4ed900", false, "Zoom 0.5x"},
        {"zoom 1500 clamps down", CameraCommand::zoom(1500), 0x02, 0xB8, 1, "0a4e2c0a", false, "Zoom 15.0x"},
        {"zoom negative", CameraCommand::zoom(-300), 0x02, 0xB8, 1, "0a4ed900", false, "Zoom -3.0x"},
    };
    for (const auto& c : cases) expectCommand(c);
}

TEST(CameraCommandTest, SettingCommands) {
    using S = CameraSetting;
    const CommandCase cases[] = {
        {"video 4K 30", CameraCommand::setting(S::videoFormat(CameraResolution::p4K, CameraFrameRate::fps30)),
         0x02, 0x18, 1, "1003000000", true, "Video 4K 30 FPS"},
        {"video vertical 3K 60",
         CameraCommand::setting(S::videoFormat(CameraResolution::vertical3K, CameraFrameRate::fps60)), 0x02, 0x18,
         1, "6c06000000", true, "Video 3K 9:16 60 FPS"},
        {"codec HEVC", CameraCommand::setting(S::compression(VideoCodec::hevc)), 0x02, 0xAB, 1, "0100", true,
         "Codec HEVC"},
        {"codec H.264", CameraCommand::setting(S::compression(VideoCodec::h264)), 0x02, 0xAB, 1, "0000", true,
         "Codec H.264"},
        {"color D-Log 2", CameraCommand::setting(S::colorProfile(ColorProfile::dLog2)), 0x02, 0x42, 1, "41", true,
         "Color D-Log 2 (10-bit)"},
        {"exposure manual", CameraCommand::setting(S::exposureMode(ExposureMode::manual)), 0x02, 0x1E, 1, "0400",
         true, "Exposure Manual"},
        {"exposure auto", CameraCommand::setting(S::exposureMode(ExposureMode::automatic)), 0x02, 0x1E, 1, "0100",
         true, "Exposure Auto"},
        {"iso 800", CameraCommand::setting(S::iso(CameraISO::iso800)), 0x02, 0x2A, 1, "06", true, "ISO 800"},
        {"iso auto", CameraCommand::setting(S::iso(CameraISO::automatic)), 0x02, 0x2A, 1, "00", true, "ISO Auto"},
        {"EV +2/3", CameraCommand::setting(S::exposureCompensation(2)), 0x02, 0x2E, 1, "12", true, "EV +0.7"},
        {"EV 0", CameraCommand::setting(S::exposureCompensation(0)), 0x02, 0x2E, 1, "10", true, "EV +0.0"},
        {"EV 10 clamps", CameraCommand::setting(S::exposureCompensation(10)), 0x02, 0x2E, 1, "19", true,
         "EV +3.0"},
        {"EV -12 clamps", CameraCommand::setting(S::exposureCompensation(-12)), 0x02, 0x2E, 1, "07", true,
         "EV -3.0"},
        {"EV -1", CameraCommand::setting(S::exposureCompensation(-1)), 0x02, 0x2E, 1, "0f", true, "EV -0.3"},
        {"WB auto", CameraCommand::setting(S::whiteBalance(std::nullopt)), 0x02, 0x2C, 1, "0000000000", true,
         "White balance Auto"},
        {"WB 5650", CameraCommand::setting(S::whiteBalance(5650)), 0x02, 0x2C, 1, "0638000000", true,
         "White balance 5600K"},
        {"WB 1500", CameraCommand::setting(S::whiteBalance(1500)), 0x02, 0x2C, 1, "0614000000", true,
         "White balance 2000K"},
        {"WB 12000", CameraCommand::setting(S::whiteBalance(12000)), 0x02, 0x2C, 1, "0664000000", true,
         "White balance 10000K"},
        {"WB 10099", CameraCommand::setting(S::whiteBalance(10099)), 0x02, 0x2C, 1, "0664000000", true,
         "White balance 10000K"},
        {"WB 2099", CameraCommand::setting(S::whiteBalance(2099)), 0x02, 0x2C, 1, "0614000000", true,
         "White balance 2000K"},
        {"WB negative", CameraCommand::setting(S::whiteBalance(-5000)), 0x02, 0x2C, 1, "0614000000", true,
         "White balance 2000K"},
    };
    for (const auto& c : cases) expectCommand(c);
}

}  // namespace
}  // namespace hollowkit
