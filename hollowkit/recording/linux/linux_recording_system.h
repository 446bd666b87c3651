#pragma once

// The recording services of a Linux desktop: X11 for displays, pointer, key
// presses and screen capture, the sound server (PulseAudio or PipeWire's
// Pulse service) for sound inputs and the system sound of screen captures.
// Nothing connects until first used, so building the bundle never fails;
// a missing display or sound server shows when a service is asked.

#include <string>

#include "hollowkit/recording/linux/pulse_audio_input.h"
#include "hollowkit/recording/recording_system.h"

namespace hollowkit {

struct LinuxRecordingSystemOptions {
    // As in DISPLAY (":0"); empty for $DISPLAY.
    std::string displayName;
    // Which sound server; the default is the user's own.
    PulseAudioInputBackend::Options sound;
};

RecordingSystem makeLinuxRecordingSystem(const LinuxRecordingSystemOptions& options = {});

}  // namespace hollowkit
