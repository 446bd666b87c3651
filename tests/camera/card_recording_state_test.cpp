#include "hollowkit/camera/card_recording_state.h"

#include <gtest/gtest.h>

namespace hollowkit {
namespace {

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
