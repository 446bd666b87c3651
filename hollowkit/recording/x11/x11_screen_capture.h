#pragma once

// X11ScreenCaptureBackend: screen capture on an X11 server. Each capture
// opens a connection of its own and runs one thread that grabs the
// display's rectangle of the root window through MIT-SHM (plain GetImage
// when the server has no shared memory) at the requested rate, draws the
// pointer in from XFixes, and scales and converts the picture to NV12 at
// the output size (BT.709, limited range). Every grab is a complete frame,
// stamped on CLOCK_MONOTONIC when it was asked for. A grab that falls behind
// skips the slots it missed instead of bunching frames up, and a grab made
// while the consumer still holds the request's queue depth of pictures is
// dropped, so a writer that falls behind costs no more memory than that.
//
// This process's own windows (those whose _NET_WM_PID names it) are left
// out when the request asks: rebuilt from the windows under them through the
// Composite extension, or blacked out where the server has none
// (x11_window_exclusion.h).
//
// System sound comes from the sound server's monitor of the default output
// through an AudioInputBackend. X11 cannot leave the app's own sound out of
// the recording.

#include <functional>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/recording/audio_input_backend.h"
#include "hollowkit/recording/screen_capture_backend.h"

namespace hollowkit {

class X11ScreenCaptureBackend final : public ScreenCaptureBackend {
public:
    struct Options {
        // As in DISPLAY (":0"); empty for $DISPLAY.
        std::string displayName;
        // Where the computer's sound is recorded from; none: a capture that
        // asks for sound fails.
        AudioInputBackend* systemSound = nullptr;
        std::string systemSoundSource = "@DEFAULT_MONITOR@";
        // false forces plain GetImage (servers without shared memory).
        bool useSharedMemory = true;
        // Threads scaling and converting each picture; 0 picks by size.
        int conversionThreads = 0;
        // false blacks our own windows out instead of rebuilding what lies
        // under them (as on servers without Composite).
        bool useComposite = true;
        // For tests: runs on the capture thread between the reading of our
        // windows and each grab, so a window can change exactly there.
        std::function<void()> beforeGrab = {};
        // For tests: the clock that tells how long a part our windows left
        // stays covered on a composited desktop; none is the steady clock.
        std::function<TimePoint()> clock = {};
    };

    X11ScreenCaptureBackend() = default;
    explicit X11ScreenCaptureBackend(Options options) : options_(std::move(options)) {}

    Result<std::unique_ptr<ScreenCapture>, std::string> start(const ScreenCaptureRequest& request,
                                                              ScreenCaptureHandlers handlers) override;

private:
    Options options_;
};

}  // namespace hollowkit
