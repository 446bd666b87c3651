#pragma once

// Which sheet or alert the main window shows, and the screen-recording
// alert's texts. One at a time: when the model asks for several, the first
// of the welcome sheet, the USB guide, the shortcuts sheet and the
// screen-recording alert shows, and the next when it is dismissed. No Qt.

#include <optional>
#include <string>
#include <vector>

#include "lumenhollow/model/published_state.h"

namespace lumenhollow {

enum class SheetKind { welcome, usbGuide, shortcuts, screenRecordingAlert };

std::optional<SheetKind> sheetToShow(const PublishedState& state);

struct AlertButton {
    enum class Action { quitAndReopen, cancel };
    std::string title;
    Action action = Action::cancel;
};

struct AlertText {
    std::string title;
    std::string message;
    std::vector<AlertButton> buttons;  // in order, the cancel button last
};

// The desktop has no settings page to open for screen recording, so the
// alert says where to look instead of offering a button for it.
const AlertText& screenRecordingAlert();

// The title a placeholder card shows until the sheet itself exists.
std::string sheetTitle(SheetKind kind);

}  // namespace lumenhollow
