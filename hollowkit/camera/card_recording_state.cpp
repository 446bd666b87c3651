#include "hollowkit/camera/card_recording_state.h"

namespace hollowkit {
namespace {

constexpr uint8_t kPushSet = 0x02;
constexpr uint8_t kPushId = 0x80;
constexpr size_t kElapsedOffset = 29;

}  // namespace

std::optional<CardRecordingState> CardRecordingState::fromFrame(const DumlFrame& frame) {
    if (frame.cmdSet != kPushSet || frame.cmdId != kPushId || frame.payload.empty()) {
        return std::nullopt;
    }
    const uint8_t status = frame.payload[0];
    CardRecordingState state;
    state.isRecording = (status & 0x80) != 0;
    state.isTransitioning = (status & 0x40) != 0;
    if (frame.payload.size() >= kElapsedOffset + 2) {
        state.elapsedSeconds = uint16LE(frame.payload, kElapsedOffset);
    }
    return state;
}

}  // namespace hollowkit
