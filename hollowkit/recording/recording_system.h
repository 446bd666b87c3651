#pragma once

// RecordingSystem: the window-system and sound services of the recording
// side, owned in one piece so the camera model is handed them together: the
// displays (display picker, screen and cursor recorders), the pointer, its
// button's presses and key presses (cursor recorder), screen capture (screen recorder) and the
// computer's sound inputs (its microphone, and the system sound the screen
// capture records). makeLinuxRecordingSystem() (linux/) builds the X11 and
// sound-server backends; tests use FakeRecordingSystem (testing/).
//
// A plain owner, moved into place once; each service is thread-safe as its
// interface says. Members are destroyed in reverse order, so the sound
// inputs outlive the screen capture that records system sound through them.

#include <memory>

#include "hollowkit/recording/audio_input_backend.h"
#include "hollowkit/recording/button_press_source.h"
#include "hollowkit/recording/display_service.h"
#include "hollowkit/recording/key_press_source.h"
#include "hollowkit/recording/pointer_service.h"
#include "hollowkit/recording/screen_capture_backend.h"

namespace hollowkit {

struct RecordingSystem {
    std::unique_ptr<AudioInputBackend> audioInputs;
    std::unique_ptr<DisplayService> displays;
    std::unique_ptr<PointerService> pointer;
    std::unique_ptr<KeyPressSource> keys;
    std::unique_ptr<ButtonPressSource> buttons;
    std::unique_ptr<ScreenCaptureBackend> screenCapture;
};

}  // namespace hollowkit
