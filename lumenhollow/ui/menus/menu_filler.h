#pragma once

// Fills a QMenu from a list of menu entries and keeps it current. Toggles
// and choices are checkable actions, which the kit's style marks with a
// check mark while on and nothing while off. Choices are the kit's choice
// rows: their marks are the entries' and move only with the entries, never
// by a click, so the current row stays marked when it is chosen again.
// Headers are disabled bold rows; a submenu is a child QMenu. fillMenuOnShow empties and fills the menu each time it is about to
// open, so it shows the model as it is then; refreshMenu brings a menu that
// is open up to date in place. GUI thread only.

#include <QString>

#include <functional>
#include <string>

#include "lumenhollow/ui/menus/menu_entries.h"

class QAction;
class QMenu;

namespace lumenhollow {

// A title as a menu shows it: "&" stands for itself, never for a mnemonic
// (Alt with a digit recalls scenes, and no title names an Alt key).
QString menuText(const std::string& title);

// True when the row's action shows the check mark.
bool showsCheckMark(const QAction& action);

// Runs a chosen row: a copy of its entry, `checked` being the state a
// toggle or a choice turns to.
using MenuTrigger = std::function<void(const MenuEntry& entry)>;

// Replaces the rows this function placed in `menu` with `entries`; a
// submenu someone else placed there stays.
void fillMenu(QMenu& menu, const MenuEntries& entries, const MenuTrigger& trigger);

// Fills `menu` from `entries()` now and again whenever it is about to show.
void fillMenuOnShow(QMenu& menu, std::function<MenuEntries()> entries, MenuTrigger trigger);

// Brings the rows of a menu filled from entries of the same shape (kinds and
// titles, in order, submenus included) to the enabled and checked states of
// `entries`; false, changing nothing, when the shape differs.
bool refreshMenu(QMenu& menu, const MenuEntries& entries);

}  // namespace lumenhollow
