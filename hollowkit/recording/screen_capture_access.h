#pragma once

// ScreenCaptureAccess: whether this process may record the screen, and
// where the user is sent when it may not. On X11 nothing asks the user: any
// client that can open the display and grab it may record, so the answer is
// that grab; what stops a recording is a session without an X display
// (Wayland), which the help text explains. The macOS settings link is kept
// as a constant for the callers that show it; on Linux they show the help
// text instead of opening it. Any thread.

#include <string>
#include <string_view>

#include "hollowkit/recording/display_service.h"

namespace hollowkit {

class ScreenCaptureAccess {
public:
    ScreenCaptureAccess() = delete;

    // The preflight: never shows anything to the user.
    static bool isGranted(DisplayService& displays);
    // Asks for access and returns the answer; X11 has nothing to ask, so this
    // is the preflight again. Callers may ignore the answer.
    static bool request(DisplayService& displays);
    // "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture",
    // made once; the same value on every call.
    static const std::string& settingsURL();
    // What the user is told in place of opening the settings link.
    static std::string_view helpText();
};

}  // namespace hollowkit
