#pragma once

// What the welcome sheet and the USB guide sheet say, and how a shown sheet
// answers the keyboard: plain values, decided here and drawn by the views.
// Texts that name a key are made from the key sequences the menus register,
// so they name the keys of this desktop.

#include <Qt>

#include <filesystem>
#include <string>
#include <vector>

namespace lumenhollow {

// One line of a sheet's list: a symbol, a bold title and a wrapping detail.
struct SheetRow {
    std::string symbol;
    std::string title;
    std::string detail;
    bool operator==(const SheetRow&) const = default;
};

struct WelcomeText {
    std::string title;
    std::string subtitle;
    std::vector<SheetRow> features;
    std::string privacySymbol;
    std::string privacy;
    std::string shortcutsButton;
    std::string startButton;
};

// `outputFolder` is where recordings go; the "Record" row names it.
WelcomeText welcomeText(const std::filesystem::path& outputFolder);

// A folder as the file manager shows the way to it: "Videos › Lumenhollow".
std::string folderAsSeen(const std::filesystem::path& folder);

struct UsbGuideText {
    std::string symbol;
    std::string title;
    std::string subtitle;
    std::vector<SheetRow> steps;
    std::vector<std::string> perks;
    std::string notNow;
};

const UsbGuideText& usbGuideText();

// The USB guide's footer: a spinner while it waits, a green check once the
// camera was found.
struct UsbGuideFooter {
    bool spinner = false;
    std::string symbol;  // empty: none
    std::string text;
    bool primary = false;  // primary text colour, else secondary
    bool operator==(const UsbGuideFooter&) const = default;
};

UsbGuideFooter usbGuideFooter(bool detected);

// What a key does while a sheet is shown. Every key stays with the sheet so
// nothing steers the picture behind it; only keys with Ctrl, Alt or Meta may
// still reach the menus' shortcuts (quitting works with a sheet open).
enum class SheetKey {
    none = 0,
    accept,   // Return or Enter: the default button
    cancel,   // Escape: the cancel button, or closes the sheet
    scroll,   // the arrows, Page Up and Down, Home, End: scroll a card cut short
    swallow,  // taken and dropped
    menu,     // dropped here, but a menu shortcut may take it first
};

SheetKey sheetKeyFor(int key, Qt::KeyboardModifiers modifiers);

}  // namespace lumenhollow
