#include "lumenhollow/ui/window/sheets.h"

#include "lumenhollow/ui/panels/screen_permission_text.h"

namespace lumenhollow {

std::optional<SheetKind> sheetToShow(const PublishedState& state) {
    if (state.showWelcome) return SheetKind::welcome;
    if (state.showUSBGuide) return SheetKind::usbGuide;
    if (state.showShortcuts) return SheetKind::shortcuts;
    if (state.showScreenPermissionHelp) return SheetKind::screenRecordingAlert;
    return std::nullopt;
}

const AlertText& screenRecordingAlert() {
    static const AlertText alert{
        "Allow Screen Recording",
        std::string(screenRecordingNeed()) +
            " If you are in one already, quit and reopen Lumenhollow so it can reach the screen.",
        {{"Quit and Reopen", AlertButton::Action::quitAndReopen},
         {std::string(howToAllowRecordingTitle()), AlertButton::Action::howToAllow},
         {"Cancel", AlertButton::Action::cancel}},
        std::string(howToAllowRecordingHelp())};
    return alert;
}

std::string sheetTitle(SheetKind kind) {
    switch (kind) {
        case SheetKind::welcome: return "Welcome to Lumenhollow";
        case SheetKind::usbGuide: return "Connect with USB-C";
        case SheetKind::shortcuts: return "Keyboard Shortcuts";
        case SheetKind::screenRecordingAlert: return screenRecordingAlert().title;
    }
    return {};
}

}  // namespace lumenhollow
