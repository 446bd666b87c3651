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
    // howToAllow asks for access again and shows the alert's help in place,
    // leaving the alert open; the others end it.
    enum class Action { quitAndReopen, howToAllow, cancel };
    std::string title;
    Action action = Action::cancel;
};

struct AlertText {
    std::string title;
    std::string message;
    std::vector<AlertButton> buttons;  // in order, the cancel button last
    std::string help;                  // shown once howToAllow is pressed
};

// The desktop has no settings page that allows screen recording: the alert
// says what recording needs, as the screen-recording panel's card does, and
// its middle button shows the card's help on how to get it.
const AlertText& screenRecordingAlert();

// The title a placeholder card shows until the sheet itself exists.
std::string sheetTitle(SheetKind kind);

}  // namespace lumenhollow
