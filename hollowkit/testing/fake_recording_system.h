#pragma once

// FakeRecordingSystem: a RecordingSystem of fakes for the code under test,
// with the fakes kept reachable so the test can drive them after handing
// the bundle over. It starts as an ordinary desktop: one 1920 x 1080 main
// display (kMainDisplayId) and one microphone (kMicrophone), the default
// input. The fakes live as long as the bundle taken from take().

#include "hollowkit/recording/recording_system.h"
#include "hollowkit/testing/fake_audio_input.h"
#include "hollowkit/testing/fake_pointer.h"
#include "hollowkit/testing/fake_screen_capture.h"

namespace hollowkit {

class FakeRecordingSystem {
public:
    static constexpr uint32_t kMainDisplayId = 1;
    static inline const AudioInputOption kMicrophone{"fake_microphone", "Built-in Microphone"};

    FakeRecordingSystem();
    FakeRecordingSystem(const FakeRecordingSystem&) = delete;
    FakeRecordingSystem& operator=(const FakeRecordingSystem&) = delete;

    // The bundle, handed over once; the accessors stay valid while it lives.
    RecordingSystem take();

    FakeAudioInputBackend& audioInputs() { return *audioInputs_; }
    FakeDisplayService& displays() { return *displays_; }
    FakePointerService& pointer() { return *pointer_; }
    FakeKeyPressSource& keys() { return *keys_; }
    FakeButtonPressSource& buttons() { return *buttons_; }
    FakeScreenCaptureBackend& screenCapture() { return *screenCapture_; }

private:
    RecordingSystem system_;
    FakeAudioInputBackend* audioInputs_;
    FakeDisplayService* displays_;
    FakePointerService* pointer_;
    FakeKeyPressSource* keys_;
    FakeButtonPressSource* buttons_;
    FakeScreenCaptureBackend* screenCapture_;
};

}  // namespace hollowkit
