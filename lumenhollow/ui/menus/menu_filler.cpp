#include "lumenhollow/ui/menus/menu_filler.h"

#include <QAction>
#include <QMenu>

#include "lumenhollow/ui/kit/choice_row.h"
#include "lumenhollow/ui/kit/menu_style.h"

namespace lumenhollow {

namespace {

// Marks the submenus fillMenu made, so a refill removes those and nothing
// that someone else placed in the menu.
constexpr const char* kFillerBuiltSubmenu = "lumenhollowBuiltSubmenu";
// Marks a header, which looks like a disabled row but has nothing to run.
constexpr const char* kFillerHeader = "lumenhollowMenuHeader";

bool fillerCheckable(MenuEntryKind kind) { return kind == MenuEntryKind::toggle || kind == MenuEntryKind::choice; }

void fillerRemoveBuilt(QMenu& menu) {
    menu.clear();
    menu.setProperty(ui::kDestructiveRows, QVariant());
    const QList<QMenu*> submenus = menu.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    for (QMenu* submenu : submenus) {
        if (!submenu->property(kFillerBuiltSubmenu).toBool()) continue;
        if (submenu->isVisible()) {
            // Open under the pointer: it goes once its own events are done.
            submenu->hide();
            submenu->setProperty(kFillerBuiltSubmenu, false);
            submenu->deleteLater();
        } else {
            delete submenu;
        }
    }
}

void fillerAdd(QMenu& menu, const MenuEntries& entries, const MenuTrigger& trigger) {
    for (const MenuEntry& entry : entries) {
        switch (entry.kind) {
            case MenuEntryKind::none: break;
            case MenuEntryKind::separator: menu.addSeparator(); break;
            case MenuEntryKind::header: {
                // A disabled row rather than addSection: Fusion draws a section as a bare line.
                QAction* header = menu.addAction(menuText(entry.title));
                header->setEnabled(false);
                header->setProperty(kFillerHeader, true);
                QFont font = header->font();
                font.setBold(true);
                header->setFont(font);
                break;
            }
            case MenuEntryKind::submenu: {
                auto* submenu = new QMenu(menuText(entry.title), &menu);
                submenu->setProperty(kFillerBuiltSubmenu, true);
                fillerAdd(*submenu, entry.children, trigger);
                menu.addMenu(submenu)->setEnabled(entry.enabled);
                break;
            }
            case MenuEntryKind::command:
            case MenuEntryKind::toggle:
            case MenuEntryKind::choice: {
                QAction* action = menu.addAction(menuText(entry.title));
                action->setEnabled(entry.enabled);
                if (entry.destructive) {
                    QStringList red = menu.property(ui::kDestructiveRows).toStringList();
                    red.append(action->text());
                    menu.setProperty(ui::kDestructiveRows, red);
                }
                if (entry.kind == MenuEntryKind::toggle) {
                    action->setCheckable(true);
                    action->setChecked(entry.checked);
                }
                // Its mark stays where the entries put it until they say
                // otherwise, also when the current row is chosen again.
                if (entry.kind == MenuEntryKind::choice) ui::makeChoiceRow(*action, entry.checked);
                QObject::connect(action, &QAction::triggered, action, [trigger, entry](bool checked) {
                    if (!trigger) return;
                    MenuEntry chosen = entry;
                    // A toggle turns to the state Qt flipped it to; a choice
                    // is always chosen, even the one already current.
                    if (chosen.kind == MenuEntryKind::toggle) chosen.checked = checked;
                    if (chosen.kind == MenuEntryKind::choice) chosen.checked = true;
                    trigger(chosen);
                });
                break;
            }
        }
    }
}

bool fillerSameShape(QMenu& menu, const MenuEntries& entries) {
    const QList<QAction*> actions = menu.actions();
    qsizetype index = 0;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntryKind::none) continue;
        if (index >= actions.size()) return false;
        QAction* action = actions[index++];
        if (entry.kind == MenuEntryKind::separator) {
            if (!action->isSeparator()) return false;
            continue;
        }
        QMenu* submenu = action->menu();
        if ((entry.kind == MenuEntryKind::submenu) != (submenu != nullptr)) return false;
        if (action->isSeparator() || action->text() != menuText(entry.title)) return false;
        if (submenu && !fillerSameShape(*submenu, entry.children)) return false;
        if (!submenu && action->isCheckable() != fillerCheckable(entry.kind)) return false;
        if (!submenu && ui::isChoiceRow(*action) != (entry.kind == MenuEntryKind::choice)) return false;
        if (action->property(kFillerHeader).toBool() != (entry.kind == MenuEntryKind::header)) return false;
    }
    return index == actions.size();
}

void fillerApplyStates(QMenu& menu, const MenuEntries& entries) {
    const QList<QAction*> actions = menu.actions();
    qsizetype index = 0;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntryKind::none) continue;
        QAction* action = actions[index++];
        if (entry.kind == MenuEntryKind::separator) continue;
        action->setEnabled(entry.enabled);
        if (QMenu* submenu = action->menu()) {
            fillerApplyStates(*submenu, entry.children);
        } else if (entry.kind == MenuEntryKind::choice) {
            ui::markChoiceRow(*action, entry.checked);
        } else if (action->isCheckable()) {
            action->setChecked(entry.checked);
        }
    }
}

}  // namespace

QString menuText(const std::string& title) {
    QString text = QString::fromStdString(title);
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    return text;
}

bool showsCheckMark(const QAction& action) { return action.isCheckable() && action.isChecked(); }

void fillMenu(QMenu& menu, const MenuEntries& entries, const MenuTrigger& trigger) {
    fillerRemoveBuilt(menu);
    fillerAdd(menu, entries, trigger);
}

void fillMenuOnShow(QMenu& menu, std::function<MenuEntries()> entries, MenuTrigger trigger) {
    fillMenu(menu, entries(), trigger);
    QObject::connect(&menu, &QMenu::aboutToShow, &menu,
                     [&menu, entries = std::move(entries), trigger = std::move(trigger)] {
                         fillMenu(menu, entries(), trigger);
                     });
}

bool refreshMenu(QMenu& menu, const MenuEntries& entries) {
    if (!fillerSameShape(menu, entries)) return false;
    fillerApplyStates(menu, entries);
    return true;
}

}  // namespace lumenhollow
