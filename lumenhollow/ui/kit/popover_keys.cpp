#include "lumenhollow/ui/kit/popover_keys.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QWidget>

#include <algorithm>

namespace lumenhollow::ui {

bool popoverKeepsKey(const QKeySequence& key) {
    if (key.count() != 1) return true;
    const QKeyCombination combination = key[0];
    if (combination.keyboardModifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const Qt::Key code = combination.key();
    return code < Qt::Key_F1 || code > Qt::Key_F35;
}

std::optional<size_t> menuItemForKey(const QKeySequence& key, const std::vector<MenuKeyItem>& items) {
    if (key.isEmpty() || popoverKeepsKey(key)) return std::nullopt;
    for (size_t i = 0; i < items.size(); ++i) {
        const MenuKeyItem& item = items[i];
        if (item.available && std::find(item.keys.begin(), item.keys.end(), key) != item.keys.end()) return i;
    }
    return std::nullopt;
}

std::vector<QKeySequence> menuKeysWhilePopoverOpen(const std::vector<MenuKeyItem>& items) {
    std::vector<QKeySequence> keys;
    for (const MenuKeyItem& item : items) {
        for (const QKeySequence& key : item.keys) {
            if (menuItemForKey(key, items) && std::find(keys.begin(), keys.end(), key) == keys.end()) {
                keys.push_back(key);
            }
        }
    }
    return keys;
}

namespace {

void collectMenuItems(const QList<QAction*>& actions, bool available, std::vector<QAction*>& found,
                      std::vector<MenuKeyItem>& states) {
    for (QAction* action : actions) {
        if (action->isSeparator()) continue;
        const bool here = available && action->isEnabled() && action->isVisible();
        if (QMenu* menu = action->menu()) {
            collectMenuItems(menu->actions(), here, found, states);
            continue;
        }
        const QList<QKeySequence> keys = action->shortcuts();
        if (keys.isEmpty()) continue;
        found.push_back(action);
        states.push_back({std::vector<QKeySequence>(keys.begin(), keys.end()), here});
    }
}

}  // namespace

PopoverMenuKeys::PopoverMenuKeys(QWidget* popover, QWidget* anchor)
    : QObject(popover), popover_(popover), anchor_(anchor) {}

std::vector<QAction*> PopoverMenuKeys::menuItems(std::vector<MenuKeyItem>& states) const {
    std::vector<QAction*> found;
    if (!anchor_) return found;
    const QWidget* window = anchor_->window();
    const auto* bar = window->findChild<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly);
    if (bar) collectMenuItems(bar->actions(), true, found, states);
    return found;
}

void PopoverMenuKeys::refresh() {
    std::vector<MenuKeyItem> states;
    menuItems(states);
    std::vector<QKeySequence> keys = menuKeysWhilePopoverOpen(states);
    // A key that stays keeps its shortcut.
    std::erase_if(shortcuts_, [&](QShortcut* shortcut) {
        const auto kept = std::find(keys.begin(), keys.end(), shortcut->key());
        if (kept != keys.end()) {
            keys.erase(kept);
            return false;
        }
        delete shortcut;
        return true;
    });
    for (const QKeySequence& key : keys) {
        auto* shortcut = new QShortcut(key, popover_);
        connect(shortcut, &QShortcut::activated, this, [this, key] { trigger(key); });
        shortcuts_.push_back(shortcut);
    }
}

void PopoverMenuKeys::trigger(const QKeySequence& key) {
    std::vector<MenuKeyItem> states;
    const std::vector<QAction*> actions = menuItems(states);
    if (const std::optional<size_t> item = menuItemForKey(key, states)) actions[*item]->trigger();
}

}  // namespace lumenhollow::ui
