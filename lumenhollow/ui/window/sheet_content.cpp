#include "lumenhollow/ui/window/sheet_content.h"

#include "lumenhollow/ui/kit/shortcuts.h"

namespace lumenhollow {

std::string folderAsSeen(const std::filesystem::path& folder) {
    // A trailing separator leaves an empty last name; the folder is the one before it.
    const std::filesystem::path clean = folder.has_filename() ? folder : folder.parent_path();
    const std::string name = clean.filename().string();
    const std::string parent = clean.parent_path().filename().string();
    if (parent.empty()) return name;
    return parent + " \u203a " + name;
}

WelcomeText welcomeText(const std::filesystem::path& outputFolder) {
    const std::string record = ui::shortcutText(ui::recordShortcut());
    return WelcomeText{
        "Welcome to Lumenhollow",
        "Your DJI Osmo Pocket, directed from your Mac.",
        {
            {"cable.connector", "Connect your Pocket",
             "Plug it in with a USB-C data cable and choose Webcam on the camera. Wi-Fi works too, with fewer "
             "controls."},
            {"hand.draw", "Aim, zoom and follow",
             "Drag the preview to aim and scroll to zoom. " + ui::shortcutText(ui::faceTrackingShortcut()) +
                 " lets the camera follow your face."},
            {"record.circle", "Record",
             record + " records to " + folderAsSeen(outputFolder) + ". " + ui::shortcutText(ui::recordScreenShortcut()) +
                 " adds your screen, with you in the corner."},
            {"macbook", "Find it in the notch",
             "Hover the notch for a live preview and every control, even with this window closed."},
        },
        "lock.shield",
        // No system prompt guards the camera here; a sandboxing desktop may still ask.
        "Your desktop may ask for Camera and Microphone access the first time. Everything you record stays on this "
        "Mac.",
        "Keyboard Shortcuts",
        "Get Started",
    };
}

const UsbGuideText& usbGuideText() {
    static const UsbGuideText text{
        "cable.connector.horizontal",
        "Connect with USB-C",
        "The steadiest way to use your Pocket with this Mac.",
        {
            {"cable.connector", "Plug in a USB-C cable",
             "Connect the Pocket to this Mac. Use a data cable: charge-only cables carry no video."},
            {"hand.tap", "Choose Webcam on the camera", "The camera asks what to do when it is connected. Tap Webcam."},
            {"checkmark.circle", "That's it", "Lumenhollow notices the camera and switches over by itself."},
        },
        {"Mac stays online", "Up to 4K", "Face tracking and scenes", "Your microphone"},
        "Not Now",
    };
    return text;
}

UsbGuideFooter usbGuideFooter(bool detected) {
    if (detected) return UsbGuideFooter{false, "checkmark.circle.fill", "Camera found. Switching to USB\u2026", true};
    return UsbGuideFooter{true, "", "Waiting for the camera\u2026", false};
}

SheetKey sheetKeyFor(int key, Qt::KeyboardModifiers modifiers) {
    const Qt::KeyboardModifiers commands = modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (commands) return SheetKey::menu;
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter: return SheetKey::accept;
        case Qt::Key_Escape: return SheetKey::cancel;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End: return (modifiers & ~Qt::KeypadModifier) ? SheetKey::swallow : SheetKey::scroll;
        default: return SheetKey::swallow;
    }
}

}  // namespace lumenhollow
