#include "hollowkit/camera/camera_command.h"

#include <gtest/gtest.h>

#include <set>

#include "hollowkit/camera/card_recording_state.h"

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

template <typename E>
void expectCodes(const std::vector<std::pair<int, const char*>>& table) {
    const auto cases = allCases<E>();
    ASSERT_EQ(cases.size(), table.size());
    std::set<int> codes;
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(rawValue(cases[i]), table[i].first) << i;
        EXPECT_EQ(title(cases[i]), table[i].second) << i;
        codes.insert(table[i].first);
    }
    // Every code maps back to its case; every other code yields nothing.
    for (int raw = 0; raw < 256; ++raw) {
        const auto value = fromRawValue<E>(static_cast<uint8_t>(raw));
        EXPECT_EQ(value.has_value(), codes.count(raw) == 1) << raw;
        if (value) {
            EXPECT_EQ(rawValue(*value), raw);
        }
    }
}

TEST(CameraSettingTest, EnumerationCodesTitlesAndOrder) {
    expectCodes<CameraResolution>({{0x0A, "1080p"}, {0x2D, "2.7K"}, {0x10, "4K"}, {0x42, "1080p 9:16"},
                                   {0x43, "2.7K 9:16"}, {0x6C, "3K 9:16"}});
    expectCodes<CameraFrameRate>(
        {{1, "24 FPS"}, {2, "25 FPS"}, {3, "30 FPS"}, {4, "48 FPS"}, {5, "50 FPS"}, {6, "60 FPS"}});
    expectCodes<ColorProfile>(
        {{0x3F, "Normal"}, {0x17, "D-Log (10-bit)"}, {0x41, "D-Log 2 (10-bit)"}, {0x3C, "HDR (10-bit)"}});
    expectCodes<ExposureMode>({{1, "Auto"}, {4, "Manual"}});
    expectCodes<CameraISO>({{0, "Auto"}, {2, "50"}, {3, "100"}, {4, "200"}, {5, "400"}, {6, "800"},
                            {7, "1600"}, {8, "3200"}, {9, "6400"}});
    EXPECT_FALSE(fromRawValue<CameraISO>(1));
    EXPECT_FALSE(fromRawValue<CameraFrameRate>(0));
    EXPECT_FALSE(fromRawValue<ExposureMode>(2));
}

DumlFrame push(uint8_t cmdSet, uint8_t cmdId, Bytes payload) {
    DumlFrame frame;
    frame.cmdSet = cmdSet;
    frame.cmdId = cmdId;
    frame.payload = std::move(payload);
    return frame;
}

TEST(CardRecordingStateTest, DecodesTheCardPush) {
    Bytes full(31, 0);
    full[0] = 0x80;
    full[29] = 0x2C;  // 300 seconds
    full[30] = 0x01;
    Bytes thirty(30, 0);
    thirty[0] = 0xC0;

    const struct {
        const char* name;
        DumlFrame frame;
        std::optional<CardRecordingState> expected;
    } cases[] = {
        {"empty payload", push(0x02, 0x80, {}), std::nullopt},
        {"other key", push(0x02, 0x81, full), std::nullopt},
        {"30 bytes, recording and transitioning", push(0x02, 0x80, thirty),
         CardRecordingState{true, true, std::nullopt}},
        {"31 bytes with elapsed time", push(0x02, 0x80, full), CardRecordingState{true, false, 300}},
        {"one byte, idle", push(0x02, 0x80, {0x3F}), CardRecordingState{false, false, std::nullopt}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CardRecordingState::fromFrame(c.frame), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace hollowkit
