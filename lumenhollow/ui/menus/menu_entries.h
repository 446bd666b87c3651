#pragma once

// MenuEntry: one row of an in-window or tray menu as plain data (its kind,
// title, whether it can be chosen, whether it carries a check mark, and the
// model command it runs with the look, guide, route or setting it names), so
// what every menu shows is decided by plain functions and tested without
// widgets. menu_filler turns a list of entries into QActions and a chosen
// row back into a call; menu_commands runs that call on the model. Pure
// values, any thread.

#include <cstdint>
#include <string>
#include <vector>

namespace lumenhollow {

// What choosing a row asks of the model. The look, guide, route and format
// rows name their subject by `key`; the settings rows carry `value` (an
// enumeration's index in its case list, a number of seconds) and a toggle
// says the state it turns to by `checked`.
enum class MenuCommand : uint8_t {
    none = 0,
    chooseLook,        // key: the look's id; empty for "None"
    removeLook,        // key: the imported look's id
    importLook,        // the look menu's import row
    toggleGuide,       // key: the guide's stored name
    chooseConnection,  // key: the route's stored name
    chooseFormat,      // key: the format's id ("1920x1080@30")
    setCodec,
    setRecordTarget,
    setCountdownSeconds,
    setShowInNotch,
    setNotchContent,
    setNotchTrigger,
    setCloseBehavior,
    importLUT,  // the gear menu's import row
    openOutputFolder,
    chooseAutomaticMicrophone,  // the camera picks its microphone (a DJI Mic first)
    chooseCameraMicrophone,     // key: the camera microphone's id
    chooseWirelessMicrophone,   // key: "", "off" or this computer's input id
    useUSBForMicrophone,        // the DJI Mic is heard only over USB
};

enum class MenuEntryKind : uint8_t {
    none = 0,
    command,    // a plain row
    toggle,     // a row with a check mark of its own, flipped when chosen
    choice,     // one row of a picker: checked when it is the current value;
                // the choices of one menu exclude each other
    header,     // a section title, never chosen
    submenu,    // a titled submenu of `children`
    separator,
};

struct MenuEntry {
    MenuEntryKind kind = MenuEntryKind::none;
    std::string title;
    bool enabled = true;
    bool checked = false;
    bool destructive = false;  // the row deletes something
    MenuCommand command = MenuCommand::none;
    std::string key;
    int value = 0;
    std::vector<MenuEntry> children;

    bool operator==(const MenuEntry&) const = default;
};

using MenuEntries = std::vector<MenuEntry>;

// The rows by kind.
MenuEntry menuCommandRow(std::string title, MenuCommand command, bool enabled = true);
MenuEntry menuToggleRow(std::string title, bool checked, MenuCommand command, std::string key = {});
MenuEntry menuChoiceRow(std::string title, bool checked, MenuCommand command, int value);
MenuEntry menuChoiceRow(std::string title, bool checked, MenuCommand command, std::string key);
MenuEntry menuHeader(std::string title);
MenuEntry menuSubmenu(std::string title, MenuEntries children, bool enabled = true);
MenuEntry menuSeparator();

}  // namespace lumenhollow
