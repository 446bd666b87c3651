#pragma once

// The menu bar's keys while a popover is open. A popover holds the keyboard
// while it is open, and a window's shortcuts match only while that window is
// the active one, so the keys of the menu bar of the popover's window would
// do nothing. The popover gives them back: each key of an available item of
// that menu bar is a shortcut of the popover that triggers the item (once:
// the window's own shortcut does not match while the popover is open).
//
// The popover's controls come first. A control that takes a key keeps it
// (a name being edited keeps Ctrl+A, Ctrl+Z and every character it types),
// and a key without Ctrl, Alt or Meta, other than a function key, is never
// taken from the popover: Escape closes it, Tab, Return, Space and the
// arrows work its controls, letters are text. The popover stays open; it
// closes only as it does otherwise (Escape, a click outside it, its anchor
// hidden, a sheet shown over its window, as by Ctrl+/). The keys reach
// their items whatever state the anchor is in: a disabled anchor leaves the
// popover enabled (it is no child of its anchor).
//
// GUI thread.

#include <QKeySequence>
#include <QObject>
#include <QPointer>

#include <optional>
#include <vector>

class QAction;
class QShortcut;
class QWidget;

namespace lumenhollow::ui {

// One item of a menu bar, as far as its keys go.
struct MenuKeyItem {
    std::vector<QKeySequence> keys;
    bool available = false;  // enabled and visible, and so is each menu it is in
    bool operator==(const MenuKeyItem&) const = default;
};

// True for a key the popover keeps for its own controls whatever the menus give.
bool popoverKeepsKey(const QKeySequence& key);

// The item `key` gives while a popover is open: the first available item
// with that key, none when the popover keeps the key.
std::optional<size_t> menuItemForKey(const QKeySequence& key, const std::vector<MenuKeyItem>& items);

// Every key some item gives while a popover is open, each once, in the
// order of the items.
std::vector<QKeySequence> menuKeysWhilePopoverOpen(const std::vector<MenuKeyItem>& items);

// The menu bar's keys as shortcuts of `popover`, for the menu bar of
// `anchor`'s window (none when that window has no menu bar). Owned by the
// popover.
class PopoverMenuKeys final : public QObject {
    Q_OBJECT
public:
    PopoverMenuKeys(QWidget* popover, QWidget* anchor);

    // Takes the menu bar's keys as they are now: the popover calls it as it
    // opens and before each key the popover's controls leave, so items
    // added, removed, enabled or disabled meanwhile count.
    void refresh();

private:
    // The menu bar's items with a key, in menu order, and their states.
    std::vector<QAction*> menuItems(std::vector<MenuKeyItem>& states) const;
    void trigger(const QKeySequence& key);

    QWidget* const popover_;
    const QPointer<QWidget> anchor_;
    std::vector<QShortcut*> shortcuts_;
};

}  // namespace lumenhollow::ui
