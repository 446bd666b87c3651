#pragma once

// The words the screen-recording permission card and the main window's
// screen-recording alert share, so both tell the person the same thing:
// what recording the screen needs on this system, the button that explains
// how to allow it, and that explanation. No Qt.

#include <string>
#include <string_view>

namespace lumenhollow {

// What stops a recording here: the session, not a settings page.
std::string_view screenRecordingNeed();
// The button that answers "how", on the card and on the alert.
std::string_view howToAllowRecordingTitle();
// What that button shows.
std::string_view howToAllowRecordingHelp();
// The card's caption: the need, then reopening to pick a session up.
std::string screenPermissionCaption();

}  // namespace lumenhollow
