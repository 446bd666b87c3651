#pragma once

// CardRecordingState: the camera's own recording to its microSD card, as its
// 02/80 push reports it. Plain value; the decoder takes any frame and never
// reads past the payload.

#include <optional>

#include "hollowkit/camera/duml_frame.h"

namespace hollowkit {

struct CardRecordingState {
    bool isRecording = false;
    bool isTransitioning = false;  // the camera is starting or ending a recording
    std::optional<int> elapsedSeconds;

    bool operator==(const CardRecordingState&) const = default;

    // Nothing unless the key is 02/80 and the payload has a first byte. The
    // elapsed time needs at least 31 payload bytes.
    static std::optional<CardRecordingState> fromFrame(const DumlFrame& frame);
};

}  // namespace hollowkit
