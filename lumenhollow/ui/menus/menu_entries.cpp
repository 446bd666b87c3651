#include "lumenhollow/ui/menus/menu_entries.h"

namespace lumenhollow {

MenuEntry menuCommandRow(std::string title, MenuCommand command, bool enabled) {
    MenuEntry entry;
    entry.kind = MenuEntryKind::command;
    entry.title = std::move(title);
    entry.enabled = enabled;
    entry.command = command;
    return entry;
}

MenuEntry menuToggleRow(std::string title, bool checked, MenuCommand command, std::string key) {
    MenuEntry entry = menuCommandRow(std::move(title), command);
    entry.kind = MenuEntryKind::toggle;
    entry.checked = checked;
    entry.key = std::move(key);
    return entry;
}

MenuEntry menuChoiceRow(std::string title, bool checked, MenuCommand command, int value) {
    MenuEntry entry = menuCommandRow(std::move(title), command);
    entry.kind = MenuEntryKind::choice;
    entry.checked = checked;
    entry.value = value;
    return entry;
}

MenuEntry menuChoiceRow(std::string title, bool checked, MenuCommand command, std::string key) {
    MenuEntry entry = menuChoiceRow(std::move(title), checked, command, 0);
    entry.key = std::move(key);
    return entry;
}

MenuEntry menuHeader(std::string title) {
    MenuEntry entry;
    entry.kind = MenuEntryKind::header;
    entry.title = std::move(title);
    entry.enabled = false;
    return entry;
}

MenuEntry menuSubmenu(std::string title, MenuEntries children, bool enabled) {
    MenuEntry entry;
    entry.kind = MenuEntryKind::submenu;
    entry.title = std::move(title);
    entry.enabled = enabled;
    entry.children = std::move(children);
    return entry;
}

MenuEntry menuSeparator() {
    MenuEntry entry;
    entry.kind = MenuEntryKind::separator;
    return entry;
}

}  // namespace lumenhollow
