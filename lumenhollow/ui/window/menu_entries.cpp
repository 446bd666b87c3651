#include "lumenhollow/ui/window/menu_entries.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace lumenhollow {

namespace {

// Marks the submenus fillMenu made, so a refill removes those and nothing
// that someone else placed in the menu.
constexpr const char* kMenuEntriesBuiltSubmenu = "lumenhollowBuiltSubmenu";

QString menuEntryText(const MenuEntry& entry) { return QString::fromStdString(menuText(entry.title)); }

void removeBuiltSubmenus(QMenu& menu) {
    const QList<QMenu*> submenus = menu.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    for (QMenu* submenu : submenus) {
        if (!submenu->property(kMenuEntriesBuiltSubmenu).toBool()) continue;
        if (submenu->isVisible()) {
            // Open under the pointer: it goes once its own events are done.
            submenu->hide();
            submenu->setProperty(kMenuEntriesBuiltSubmenu, false);
            submenu->deleteLater();
        } else {
            delete submenu;
        }
    }
}

void addMenuEntries(QMenu& menu, const std::vector<MenuEntry>& entries, const MenuTrigger& trigger) {
    QActionGroup* choices = nullptr;
    for (const MenuEntry& entry : entries) {
        switch (entry.kind) {
            case MenuEntryKind::none: break;
            case MenuEntryKind::separator: menu.addSeparator(); break;
            case MenuEntryKind::submenu: {
                auto* submenu = new QMenu(menuEntryText(entry), &menu);
                submenu->setProperty(kMenuEntriesBuiltSubmenu, true);
                addMenuEntries(*submenu, entry.children, trigger);
                QAction* action = menu.addMenu(submenu);
                action->setEnabled(entry.enabled);
                break;
            }
            case MenuEntryKind::command:
            case MenuEntryKind::toggle:
            case MenuEntryKind::choice: {
                QAction* action = menu.addAction(menuEntryText(entry));
                action->setEnabled(entry.enabled);
                if (entry.kind != MenuEntryKind::command) {
                    action->setCheckable(true);
                    action->setChecked(entry.checked);
                }
                if (entry.kind == MenuEntryKind::choice) {
                    if (!choices) choices = new QActionGroup(&menu);
                    choices->addAction(action);
                }
                const MenuEntryKind kind = entry.kind;
                QObject::connect(action, &QAction::triggered, action,
                                 [trigger, kind, command = entry.command, value = entry.value](bool checked) {
                                     if (!trigger) return;
                                     // A toggle says the state it turned to.
                                     trigger(command, kind == MenuEntryKind::toggle ? (checked ? 1 : 0) : value);
                                 });
                break;
            }
        }
    }
}

bool sameMenuShape(QMenu& menu, const std::vector<MenuEntry>& entries) {
    const QList<QAction*> actions = menu.actions();
    size_t index = 0;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntryKind::none) continue;
        if (index >= static_cast<size_t>(actions.size())) return false;
        QAction* action = actions[static_cast<qsizetype>(index++)];
        if (entry.kind == MenuEntryKind::separator) {
            if (!action->isSeparator()) return false;
            continue;
        }
        QMenu* submenu = action->menu();
        if ((entry.kind == MenuEntryKind::submenu) != (submenu != nullptr)) return false;
        if (action->isSeparator() || action->text() != menuEntryText(entry)) return false;
        if (submenu && !sameMenuShape(*submenu, entry.children)) return false;
        if (!submenu && action->isCheckable() != (entry.kind != MenuEntryKind::command)) return false;
    }
    return index == static_cast<size_t>(actions.size());
}

void applyMenuStates(QMenu& menu, const std::vector<MenuEntry>& entries) {
    const QList<QAction*> actions = menu.actions();
    qsizetype index = 0;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntryKind::none) continue;
        QAction* action = actions[index++];
        if (entry.kind == MenuEntryKind::separator) continue;
        action->setEnabled(entry.enabled);
        if (QMenu* submenu = action->menu()) {
            applyMenuStates(*submenu, entry.children);
        } else if (action->isCheckable()) {
            action->setChecked(entry.checked);
        }
    }
}

}  // namespace

MenuEntry menuCommandRow(std::string title, MenuCommand command, bool enabled) {
    MenuEntry entry;
    entry.kind = MenuEntryKind::command;
    entry.title = std::move(title);
    entry.enabled = enabled;
    entry.command = command;
    return entry;
}

MenuEntry menuToggleRow(std::string title, bool checked, MenuCommand command) {
    MenuEntry entry = menuCommandRow(std::move(title), command);
    entry.kind = MenuEntryKind::toggle;
    entry.checked = checked;
    return entry;
}

MenuEntry menuChoiceRow(std::string title, bool checked, MenuCommand command, int value) {
    MenuEntry entry = menuCommandRow(std::move(title), command);
    entry.kind = MenuEntryKind::choice;
    entry.checked = checked;
    entry.value = value;
    return entry;
}

MenuEntry menuSubmenu(std::string title, std::vector<MenuEntry> children, bool enabled) {
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

std::string menuText(const std::string& title) {
    std::string text;
    text.reserve(title.size());
    for (char c : title) {
        text += c;
        if (c == '&') text += '&';
    }
    return text;
}

void fillMenu(QMenu& menu, const std::vector<MenuEntry>& entries, const MenuTrigger& trigger) {
    menu.clear();
    removeBuiltSubmenus(menu);
    // A group left from the previous rows would keep them alive.
    for (QActionGroup* group : menu.findChildren<QActionGroup*>(QString(), Qt::FindDirectChildrenOnly)) delete group;
    addMenuEntries(menu, entries, trigger);
}

bool refreshMenu(QMenu& menu, const std::vector<MenuEntry>& entries) {
    if (!sameMenuShape(menu, entries)) return false;
    applyMenuStates(menu, entries);
    return true;
}

}  // namespace lumenhollow
