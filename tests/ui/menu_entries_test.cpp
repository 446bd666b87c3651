#include "lumenhollow/ui/window/menu_entries.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace lumenhollow {
namespace {

// The menu as text: one line per row, indented per level; "-" for a
// separator, "[x]"/"[ ]" for a checkable row, " (off)" when disabled.
void entriesDescribe(const QMenu& menu, int depth, std::string& out) {
    for (QAction* action : menu.actions()) {
        out += std::string(static_cast<size_t>(depth) * 2, ' ');
        if (action->isSeparator()) {
            out += "-\n";
            continue;
        }
        if (action->isCheckable()) out += action->isChecked() ? "[x] " : "[ ] ";
        out += action->text().toStdString();
        if (!action->isEnabled()) out += " (off)";
        out += "\n";
        if (QMenu* submenu = action->menu()) entriesDescribe(*submenu, depth + 1, out);
    }
}

std::string entriesDescribe(const QMenu& menu) {
    std::string out;
    entriesDescribe(menu, 0, out);
    return out;
}

QAction* entriesAction(const QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) return action;
    }
    return nullptr;
}

std::vector<MenuEntry> entriesSample(int checkedValue, bool pickerEnabled) {
    std::vector<MenuEntry> rows;
    for (int value : {1, 2, 3}) {
        rows.push_back(menuChoiceRow("Row " + std::to_string(value), value == checkedValue,
                                     MenuCommand::setCountdownSeconds, value));
    }
    return {
        menuToggleRow("Flag", true, MenuCommand::setShowInNotch),
        menuSubmenu("Pick", std::move(rows), pickerEnabled),
        menuSeparator(),
        menuCommandRow("Go", MenuCommand::openOutputFolder, false),
    };
}

struct EntriesTextCase {
    std::string title;
    QString shown;
};

TEST(MenuEntries, AmpersandsAreShownNotTakenAsMnemonics) {
    const std::vector<EntriesTextCase> cases{
        {"Plain", QStringLiteral("Plain")},
        {"Black & White", QStringLiteral("Black && White")},
        {"&&", QStringLiteral("&&&&")},
        {"&Lead", QStringLiteral("&&Lead")},
    };
    QWidget parent;
    QMenu menu(&parent);
    for (const EntriesTextCase& c : cases) {
        fillMenu(menu, {menuCommandRow(c.title, MenuCommand::none)}, {});
        ASSERT_EQ(menu.actions().size(), 1);
        EXPECT_EQ(menu.actions()[0]->text(), c.shown) << c.title;
        // Qt strips the doubled marks when it draws: the user reads the title.
        EXPECT_EQ(menu.actions()[0]->iconText(), QString::fromStdString(c.title)) << c.title;
    }
}

TEST(MenuEntries, FillBuildsRowsSubmenusAndStates) {
    QWidget parent;
    QMenu menu(&parent);
    fillMenu(menu, entriesSample(2, false), {});
    EXPECT_EQ(entriesDescribe(menu),
              "[x] Flag\n"
              "Pick (off)\n"
              "  [ ] Row 1\n"
              "  [x] Row 2\n"
              "  [ ] Row 3\n"
              "-\n"
              "Go (off)\n");
    // The picker's rows exclude each other.
    QMenu* picker = entriesAction(menu, QStringLiteral("Pick"))->menu();
    ASSERT_NE(picker, nullptr);
    QActionGroup* group = picker->actions()[0]->actionGroup();
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(group->isExclusive());
    EXPECT_EQ(group->actions().size(), 3);
}

TEST(MenuEntries, RowsCallTheTriggerWithTheirCommandAndValue) {
    QWidget parent;
    QMenu menu(&parent);
    std::vector<std::pair<MenuCommand, int>> calls;
    fillMenu(menu, entriesSample(1, true), [&calls](MenuCommand command, int value) {
        calls.emplace_back(command, value);
    });
    QMenu* picker = entriesAction(menu, QStringLiteral("Pick"))->menu();
    entriesAction(*picker, QStringLiteral("Row 3"))->trigger();
    // The toggle was on: choosing it turns it off, and says so.
    entriesAction(menu, QStringLiteral("Flag"))->trigger();
    entriesAction(menu, QStringLiteral("Flag"))->trigger();
    const std::vector<std::pair<MenuCommand, int>> expected{
        {MenuCommand::setCountdownSeconds, 3},
        {MenuCommand::setShowInNotch, 0},
        {MenuCommand::setShowInNotch, 1},
    };
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(entriesAction(*picker, QStringLiteral("Row 3"))->isChecked());
    EXPECT_FALSE(entriesAction(*picker, QStringLiteral("Row 1"))->isChecked());
}

TEST(MenuEntries, RefillReplacesEverythingItBuilt) {
    QWidget parent;
    QMenu menu(&parent);
    auto* foreign = new QMenu(&menu);  // placed by someone else: stays
    for (int round = 0; round < 3; ++round) fillMenu(menu, entriesSample(round, true), {});
    EXPECT_EQ(menu.actions().size(), 4);
    // The last picker's submenu and the foreign menu.
    EXPECT_EQ(menu.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
    EXPECT_TRUE(menu.findChildren<QMenu*>().contains(foreign));
    fillMenu(menu, {}, {});
    EXPECT_TRUE(menu.actions().isEmpty());
    EXPECT_EQ(menu.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
}

struct EntriesRefreshCase {
    const char* name;
    std::vector<MenuEntry> next;
    bool sameShape;
    std::string shown;  // the menu afterwards
};

TEST(MenuEntries, RefreshChangesStatesOnlyWhenTheShapeHolds) {
    std::vector<MenuEntry> renamed = entriesSample(1, true);
    renamed[3].title = "Went";
    std::vector<MenuEntry> longer = entriesSample(1, true);
    longer.push_back(menuCommandRow("More", MenuCommand::none));
    std::vector<MenuEntry> shorterPicker = entriesSample(1, true);
    shorterPicker[1].children.pop_back();
    std::vector<MenuEntry> toggleAsCommand = entriesSample(1, true);
    toggleAsCommand[0].kind = MenuEntryKind::command;
    const std::string before =
        "[x] Flag\nPick\n  [x] Row 1\n  [ ] Row 2\n  [ ] Row 3\n-\nGo (off)\n";

    std::vector<MenuEntry> flagOff = entriesSample(3, false);
    flagOff[0].checked = false;
    flagOff[3].enabled = true;
    const std::vector<EntriesRefreshCase> cases{
        {"states change", flagOff, true, "[ ] Flag\nPick (off)\n  [ ] Row 1\n  [ ] Row 2\n  [x] Row 3\n-\nGo\n"},
        {"no row checked any more", entriesSample(0, true), true,
         "[x] Flag\nPick\n  [ ] Row 1\n  [ ] Row 2\n  [ ] Row 3\n-\nGo (off)\n"},
        {"a title changed", renamed, false, before},
        {"a row more", longer, false, before},
        {"a choice fewer", shorterPicker, false, before},
        {"another kind", toggleAsCommand, false, before},
    };
    for (const EntriesRefreshCase& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget parent;
        QMenu menu(&parent);
        fillMenu(menu, entriesSample(1, true), {});
        ASSERT_EQ(entriesDescribe(menu), before);
        EXPECT_EQ(refreshMenu(menu, c.next), c.sameShape);
        EXPECT_EQ(entriesDescribe(menu), c.shown);
    }
}

}  // namespace
}  // namespace lumenhollow
