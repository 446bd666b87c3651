#include "hollowkit/recording/screen_capture_access.h"

namespace hollowkit {

bool ScreenCaptureAccess::isGranted(DisplayService& displays) {
    return displays.canCapture();
}

bool ScreenCaptureAccess::request(DisplayService& displays) {
    return displays.canCapture();
}

const std::string& ScreenCaptureAccess::settingsURL() {
    // A function-local static is initialised once, thread-safely.
    static const std::string url =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";
    return url;
}

std::string_view ScreenCaptureAccess::helpText() {
    return "Lumenhollow records the screen through X11. In a Wayland session the screen cannot be "
           "recorded: log out, choose an Xorg session (for example \"GNOME on Xorg\") on the login "
           "screen, then open Lumenhollow again.";
}

}  // namespace hollowkit
