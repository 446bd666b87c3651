#include "hollowkit/recording/linux/linux_recording_system.h"

#include "hollowkit/recording/x11/x11_button_press_source.h"
#include "hollowkit/recording/x11/x11_display_service.h"
#include "hollowkit/recording/x11/x11_key_press_source.h"
#include "hollowkit/recording/x11/x11_pointer_service.h"
#include "hollowkit/recording/x11/x11_screen_capture.h"

namespace hollowkit {

RecordingSystem makeLinuxRecordingSystem(const LinuxRecordingSystemOptions& options) {
    RecordingSystem system;
    system.audioInputs = std::make_unique<PulseAudioInputBackend>(options.sound);
    system.displays = std::make_unique<X11DisplayService>(options.displayName);
    system.pointer = std::make_unique<X11PointerService>(options.displayName);
    system.keys = std::make_unique<X11KeyPressSource>(options.displayName);
    system.buttons = std::make_unique<X11ButtonPressSource>(options.displayName);
    X11ScreenCaptureBackend::Options capture;
    capture.displayName = options.displayName;
    capture.systemSound = system.audioInputs.get();
    system.screenCapture = std::make_unique<X11ScreenCaptureBackend>(std::move(capture));
    return system;
}

}  // namespace hollowkit
