#pragma once

// MenuEntry: one row of an in-window or tray menu as plain data (its kind,
// title, whether it can be chosen, whether it carries a check mark, and the
// model command it runs), so what a menu shows is decided by plain functions
// and tested without widgets. fillMenu turns a list of entries into QActions
// when the menu opens; refreshMenu brings the actions of a menu that is open
// up to date. GUI thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace lumenhollow {

// The model operation a row runs; `value` carries the choice (an
// enumeration's index in its case list, a number of seconds, on/off).
enum class MenuCommand : uint8_t {
    none = 0,
    setCodec,
    setRecordTarget,
    setCountdownSeconds,
    setShowInNotch,
    setNotchContent,
    setNotchTrigger,
    setCloseBehavior,
    importLUT,
    openOutputFolder,
};

enum class MenuEntryKind : uint8_t {
    none = 0,
    command,    // a plain row
    toggle,     // a row with a check mark that flips a setting
    choice,     // one row of a picker: checked when it is the current value
    submenu,    // a titled submenu of `children`; a picker is one of choices
    separator,
};

struct MenuEntry {
    MenuEntryKind kind = MenuEntryKind::none;
    std::string title;
    bool enabled = true;
    bool checked = false;
    MenuCommand command = MenuCommand::none;
    int value = 0;
    std::vector<MenuEntry> children;

    bool operator==(const MenuEntry&) const = default;
};

// The rows by kind.
MenuEntry menuCommandRow(std::string title, MenuCommand command, bool enabled = true);
MenuEntry menuToggleRow(std::string title, bool checked, MenuCommand command);
MenuEntry menuChoiceRow(std::string title, bool checked, MenuCommand command, int value);
MenuEntry menuSubmenu(std::string title, std::vector<MenuEntry> children, bool enabled = true);
MenuEntry menuSeparator();

// Runs the row's command; a toggle's value is the state it turns to.
using MenuTrigger = std::function<void(MenuCommand command, int value)>;

// A menu title as Qt shows it: a '&' would mark a mnemonic (Alt is the
// preview's scene key), so each one is doubled to be shown as it is.
std::string menuText(const std::string& title);

// Replaces the menu's rows with `entries`. The choices of one submenu form
// an exclusive group; rows call `trigger` when chosen.
void fillMenu(QMenu& menu, const std::vector<MenuEntry>& entries, const MenuTrigger& trigger);

// Brings the rows of a menu filled from entries of the same shape (kinds and
// titles, in order, submenus included) to the enabled and checked states of
// `entries`; false, changing nothing, when the shape differs.
bool refreshMenu(QMenu& menu, const std::vector<MenuEntry>& entries);

}  // namespace lumenhollow
