#pragma once

// ScreenCaptureBackend: captures one display as a stream of pictures at a
// fixed size, with the pointer drawn in, and optionally the sound the
// computer plays. The X11 backend (x11/x11_screen_capture.h) grabs the
// monitor through MIT-SHM on a thread and connection of its own; tests use
// FakeScreenCaptureBackend.
//
// start() returns once capture runs (or fails with the reason). Frames and
// sound then arrive on the backend's threads, stamped on CLOCK_MONOTONIC;
// handlers must be quick and must not call back into the capture. A capture
// that ends by itself (the display went away) says so once through
// onStopped. Destroying a ScreenCapture stops it; once the destructor
// returns no handler of it runs any more.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/result.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/recording/screen_display.h"

namespace hollowkit {

// What a delivered picture holds. Only complete frames carry new content;
// the others tell of a display that is idle, blank or paused.
enum class ScreenFrameStatus : uint8_t {
    none = 0,
    complete,
    idle,
    blank,
    suspended,
    started,
    stopped,
};

struct ScreenCaptureRequest {
    DisplayInfo display;     // the area of the root window to capture
    int outputWidth = 0;     // pictures are scaled to this size (NV12)
    int outputHeight = 0;
    Duration minimumFrameInterval = std::chrono::microseconds(16667);
    bool showsCursor = true;
    int queueDepth = 6;      // pictures the consumer may hold before the capture drops
    bool capturesAudio = false;
    bool excludesCurrentProcessAudio = true;  // where the backend can
    // This process's windows are left out of the pictures (what lies under
    // them shows, or black where the backend cannot see under them).
    bool excludesCurrentProcessWindows = true;
    int sampleRate = 48000;
    int channelCount = 2;

    bool operator==(const ScreenCaptureRequest&) const = default;
};

struct ScreenCaptureHandlers {
    std::function<void(VideoFrame, ScreenFrameStatus)> onFrame;
    std::function<void(AudioChunk)> onAudio;
    // At most once: the capture has ended by itself; the text says why.
    std::function<void(std::string)> onStopped;
};

class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;
};

class ScreenCaptureBackend {
public:
    virtual ~ScreenCaptureBackend() = default;

    // Any thread. Blocks until the first grab worked or failed.
    virtual Result<std::unique_ptr<ScreenCapture>, std::string> start(
        const ScreenCaptureRequest& request, ScreenCaptureHandlers handlers) = 0;
};

}  // namespace hollowkit
