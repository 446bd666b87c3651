#include "hollowkit/camera/card_recording_state.h"

#include "hollowkit/camera/camera_types.h"

namespace hollowkit {
namespace {

constexpr size_t kElapsedOffset = 29;

}  // namespace

std::optional<CardRecordingState> CardRecordingState::fromFrame(const DumlFrame& frame) {
    // The card storage push carries the recording state too.
    if (frame.cmdSet != CardStorage::kPushCmdSet || frame.cmdId != CardStorage::kPushCmdId || frame.payload.empty()) {
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
