#include "lumenhollow/ui/window/menu_entries.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QWidget>
#include <string>
#include <utility>
#include <vector>

namespace lumenhollow {
namespace {

// The menu as text, one row a line, indented per level: "-" a separator,
// "[x]"/"[ ]" a checkable row, " (off)" a disabled one.
std::string entriesDescribe(const QMenu& menu, int depth = 0) {
    std::string out;
    for (QAction* action : menu.actions()) {
        out += std::string(static_cast<size_t>(depth) * 2, ' ');
        if (action->isSeparator()) {
            out += "-\n";
            continue;
        }
        if (action->isCheckable()) out += action->isChecked() ? "[x] " : "[ ] ";
        out += action->text().toStdString() + (action->isEnabled() ? "\n" : " (off)\n");
        if (QMenu* submenu = action->menu()) out += entriesDescribe(*submenu, depth + 1);
    }
    return out;
}

QAction* entriesAction(const QMenu& menu, const char* text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == QLatin1String(text)) return action;
    }
    return nullptr;
}

std::vector<MenuEntry> entriesSample(int checkedValue, bool pickerEnabled) {
    std::vector<MenuEntry> rows;
    for (int value : {1, 2, 3}) {
        rows.push_back(menuChoiceRow("Row " + std::to_string(value), value == checkedValue,
                                     MenuCommand::setCountdownSeconds, value));
    }
    return {menuToggleRow("Flag", true, MenuCommand::setShowInNotch),
            menuSubmenu("Pick", std::move(rows), pickerEnabled), menuSeparator(),
            menuCommandRow("Go", MenuCommand::openOutputFolder, false)};
}

TEST(MenuEntries, AmpersandsAreShownNotTakenAsMnemonics) {
    const std::vector<std::pair<std::string, QString>> cases{
        {"Plain", "Plain"}, {"Black & White", "Black && White"}, {"&&", "&&&&"}, {"&Lead", "&&Lead"}};
    QWidget parent;
    QMenu menu(&parent);
    for (const auto& [title, shown] : cases) {
        fillMenu(menu, {menuCommandRow(title, MenuCommand::none)}, {});
        ASSERT_EQ(menu.actions().size(), 1);
        EXPECT_EQ(menu.actions()[0]->text(), shown) << title;
        // What Qt draws once the doubled marks are undone: the title itself.
        EXPECT_EQ(menu.actions()[0]->iconText(), QString::fromStdString(title)) << title;
    }
}

TEST(MenuEntries, FilledRowsShowTheirStatesAndCallTheTrigger) {
    QWidget parent;
    QMenu menu(&parent);
    auto* foreign = new QMenu(&menu);  // placed by someone else: a refill keeps it
    std::vector<std::pair<MenuCommand, int>> calls;
    for (int round = 0; round < 3; ++round) {
        fillMenu(menu, entriesSample(2, false),
                 [&calls](MenuCommand command, int value) { calls.emplace_back(command, value); });
    }
    EXPECT_EQ(entriesDescribe(menu), "[x] Flag\nPick (off)\n  [ ] Row 1\n  [x] Row 2\n  [ ] Row 3\n-\nGo (off)\n");
    // One picker submenu is left of the three fills, beside the foreign menu.
    EXPECT_EQ(menu.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
    EXPECT_TRUE(menu.findChildren<QMenu*>().contains(foreign));

    QMenu* picker = entriesAction(menu, "Pick")->menu();
    QActionGroup* group = picker->actions()[0]->actionGroup();
    ASSERT_TRUE(group && group->isExclusive());
    entriesAction(*picker, "Row 3")->trigger();
    EXPECT_FALSE(entriesAction(*picker, "Row 2")->isChecked());
    // The toggle was on: choosing it turns it off, and says so.
    entriesAction(menu, "Flag")->trigger();
    entriesAction(menu, "Flag")->trigger();
    const std::vector<std::pair<MenuCommand, int>> expected{
        {MenuCommand::setCountdownSeconds, 3}, {MenuCommand::setShowInNotch, 0}, {MenuCommand::setShowInNotch, 1}};
    EXPECT_EQ(calls, expected);
}

TEST(MenuEntries, RefreshChangesStatesOnlyWhenTheShapeHolds) {
    std::vector<MenuEntry> renamed = entriesSample(1, true);
    renamed[3].title = "Went";
    std::vector<MenuEntry> longer = entriesSample(1, true);
    longer.push_back(menuCommandRow("More", MenuCommand::none));
    std::vector<MenuEntry> fewerChoices = entriesSample(1, true);
    fewerChoices[1].children.pop_back();
    std::vector<MenuEntry> otherKind = entriesSample(1, true);
    otherKind[0].kind = MenuEntryKind::command;
    std::vector<MenuEntry> flipped = entriesSample(3, false);
    flipped[0].checked = false;
    flipped[3].enabled = true;
    const std::string before = "[x] Flag\nPick\n  [x] Row 1\n  [ ] Row 2\n  [ ] Row 3\n-\nGo (off)\n";
    const struct {
        const char* name;
        std::vector<MenuEntry> next;
        bool sameShape;
        std::string shown;
    } cases[] = {
        {"states change", flipped, true, "[ ] Flag\nPick (off)\n  [ ] Row 1\n  [ ] Row 2\n  [x] Row 3\n-\nGo\n"},
        {"no row checked", entriesSample(0, true), true,
         "[x] Flag\nPick\n  [ ] Row 1\n  [ ] Row 2\n  [ ] Row 3\n-\nGo (off)\n"},
        {"a title changed", renamed, false, before},
        {"a row more", longer, false, before},
        {"a choice fewer", fewerChoices, false, before},
        {"another kind", otherKind, false, before},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget parent;
        QMenu menu(&parent);
        fillMenu(menu, entriesSample(1, true), {});
        EXPECT_EQ(refreshMenu(menu, c.next), c.sameShape);
        EXPECT_EQ(entriesDescribe(menu), c.shown);
    }
}

}  // namespace
}  // namespace lumenhollow
