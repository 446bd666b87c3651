#include "lumenhollow/ui/window/sheets.h"

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
        "Allow Lumenhollow to record the screen in your desktop's privacy or screen sharing settings. "
        "If it is already allowed, quit and reopen Lumenhollow so the desktop applies it.",
        {{"Quit and Reopen", AlertButton::Action::quitAndReopen}, {"Cancel", AlertButton::Action::cancel}}};
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
