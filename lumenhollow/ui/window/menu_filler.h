#pragma once

// Fills a QMenu from a list of menu entries and keeps it current: the menu
// is emptied and filled again each time it is about to open, so it shows the
// model as it is then. Rows carry the "checkmark" symbol as their icon when
// checked; headers are disabled rows; a submenu is a child QMenu. GUI thread.

#include <QString>

#include <functional>
#include <string>

#include "lumenhollow/ui/window/menu_entries.h"

class QAction;
class QMenu;

namespace lumenhollow {

// A title as a menu shows it: "&" stands for itself, never for a mnemonic
// (Alt with a digit recalls scenes, and no title names an Alt key).
QString menuText(const std::string& title);

// True when the row's action shows the check mark.
bool showsCheckMark(const QAction& action);

using MenuChoice = std::function<void(const MenuEntry& entry)>;

// Replaces the menu's contents with `entries`; choosing a row calls `choose`
// with a copy of its entry.
void fillMenu(QMenu& menu, const MenuEntries& entries, const MenuChoice& choose);

// Fills `menu` from `entries()` now and again whenever it is about to show.
void fillMenuOnShow(QMenu& menu, std::function<MenuEntries()> entries, MenuChoice choose);

}  // namespace lumenhollow
