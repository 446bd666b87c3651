#include "lumenhollow/ui/panels/screen_permission_text.h"

#include "hollowkit/recording/screen_capture_access.h"

namespace lumenhollow {

std::string_view screenRecordingNeed() {
    // There is no settings page for this on Linux: what stops the recording
    // is a session the screen cannot be read in.
    return "Recording the screen needs an X11 session.";
}

std::string_view howToAllowRecordingTitle() {
    return "How to Allow Recording";
}

std::string_view howToAllowRecordingHelp() {
    return hollowkit::ScreenCaptureAccess::helpText();
}

std::string screenPermissionCaption() {
    return std::string(screenRecordingNeed()) +
           " If you are in one already, reopen Lumenhollow so it can reach the screen.";
}

}  // namespace lumenhollow
