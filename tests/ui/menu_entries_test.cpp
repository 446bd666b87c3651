#include "lumenhollow/ui/menus/menu_entries.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <QWidget>
#include <QWindow>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "hollowkit/imaging/lut_library.h"
#include "lumenhollow/ui/kit/menu_style.h"
#include "lumenhollow/ui/menus/menu_filler.h"
#include "lumenhollow/ui/menus/window_menu_entries.h"

namespace lumenhollow {
namespace {

namespace hk = hollowkit;

// A row as the test reads it: kind, title and check mark, submenu rows after a '>'.
std::vector<std::string> outline(const MenuEntries& entries) {
    std::vector<std::string> lines;
    for (const MenuEntry& entry : entries) {
        switch (entry.kind) {
            case MenuEntryKind::none: lines.push_back("?"); break;
            case MenuEntryKind::separator: lines.push_back("---"); break;
            case MenuEntryKind::header: lines.push_back("[" + entry.title + "]"); break;
            case MenuEntryKind::command:
            case MenuEntryKind::toggle:
            case MenuEntryKind::choice: lines.push_back((entry.checked ? "* " : "  ") + entry.title); break;
            case MenuEntryKind::submenu:
                lines.push_back(entry.title + " >");
                for (const MenuEntry& row : entry.children) {
                    lines.push_back(std::string(row.checked ? "> * " : ">   ") + row.title +
                                    (row.destructive ? " (destructive)" : ""));
                }
                break;
        }
    }
    return lines;
}

hk::ColorLUT look(std::string id, std::string name) {
    hk::ColorLUT lut;
    lut.id = std::move(id);
    lut.name = std::move(name);
    return lut;
}

const hk::ColorLUT& builtIn(const std::string& name) {
    for (const hk::ColorLUT& lut : hk::LUTLibrary::builtIn()) {
        if (lut.name == name) return lut;
    }
    static const hk::ColorLUT none;
    ADD_FAILURE() << "no built-in look " << name;
    return none;
}

TEST(MenuEntries, TheLookMenuListsNoneTheLooksTheImportsTheirRemovalAndImport) {
    const hk::ColorLUT sunset = look("/looks/Sunset.cube", "Sunset");
    const hk::ColorLUT night = look("/looks/Night.png", "Night");
    struct Case {
        const char* name;
        std::vector<hk::ColorLUT> imported;
        std::optional<hk::ColorLUT> selected;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"nothing imported, nothing chosen",
         {},
         std::nullopt,
         {"* None", "[Looks]", "  Warm", "  Cool", "  Teal & Orange", "  Mono", "  Faded Film", "  Vivid", "---",
          "  Import .cube or PNG LUT\u2026"}},
        {"a built-in look chosen",
         {},
         builtIn("Mono"),
         {"  None", "[Looks]", "  Warm", "  Cool", "  Teal & Orange", "* Mono", "  Faded Film", "  Vivid", "---",
          "  Import .cube or PNG LUT\u2026"}},
        {"two imports, the second chosen; the removal rows never checked",
         {sunset, night},
         night,
         {"  None", "[Looks]", "  Warm", "  Cool", "  Teal & Orange", "  Mono", "  Faded Film", "  Vivid",
          "[Imported]", "  Sunset", "* Night", "Remove Imported LUT >", ">   Sunset (destructive)",
          ">   Night (destructive)", "---", "  Import .cube or PNG LUT\u2026"}},
        {"the check follows the id, not the name",
         {sunset, night},
         look("/looks/Sunset.cube", "Renamed"),
         {"  None", "[Looks]", "  Warm", "  Cool", "  Teal & Orange", "  Mono", "  Faded Film", "  Vivid",
          "[Imported]", "* Sunset", "  Night", "Remove Imported LUT >", ">   Sunset (destructive)",
          ">   Night (destructive)", "---", "  Import .cube or PNG LUT\u2026"}},
        {"a look whose name matches but id does not carries no check",
         {sunset},
         look("/elsewhere/Sunset.cube", "Sunset"),
         {"  None", "[Looks]", "  Warm", "  Cool", "  Teal & Orange", "  Mono", "  Faded Film", "  Vivid",
          "[Imported]", "  Sunset", "Remove Imported LUT >", ">   Sunset (destructive)", "---",
          "  Import .cube or PNG LUT\u2026"}},
        {"the same file imported twice is one row",
         {sunset, night, sunset},
         std::nullopt,
         {"* None", "[Looks]", "  Warm", "  Cool", "  Teal & Orange", "  Mono", "  Faded Film", "  Vivid",
          "[Imported]", "  Sunset", "  Night", "Remove Imported LUT >", ">   Sunset (destructive)",
          ">   Night (destructive)", "---", "  Import .cube or PNG LUT\u2026"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outline(lookMenuEntries(hk::LUTLibrary::builtIn(), c.imported, c.selected)), c.expected);
    }
}

TEST(MenuEntries, EveryLookRowNamesTheCommandAndTheLookItActsOn) {
    const hk::ColorLUT sunset = look("/looks/Sunset.cube", "Sunset");
    const MenuEntries entries = lookMenuEntries(hk::LUTLibrary::builtIn(), {sunset}, std::nullopt);
    struct Expected {
        std::string title;
        MenuCommand command;
        std::string key;
    };
    std::vector<Expected> rows;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntryKind::choice || entry.kind == MenuEntryKind::command) {
            rows.push_back({entry.title, entry.command, entry.key});
        }
        for (const MenuEntry& row : entry.children) rows.push_back({row.title, row.command, row.key});
    }
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[0].command, MenuCommand::chooseLook);
    EXPECT_EQ(rows[0].key, "") << "None chooses no look";
    EXPECT_EQ(rows[4].key, builtIn("Mono").id);
    EXPECT_EQ(rows[7].command, MenuCommand::chooseLook);
    EXPECT_EQ(rows[7].key, sunset.id);
    EXPECT_EQ(rows[8].command, MenuCommand::removeLook);
    EXPECT_EQ(rows[8].key, sunset.id);
    EXPECT_EQ(rows[9].command, MenuCommand::importLook);
}

TEST(MenuEntries, GuidesAreCheckedEachOnItsOwn) {
    struct Case {
        std::set<GuideKind> on;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {{}, {"  Grid", "  Horizon", "  9:16 Frame"}},
        {{GuideKind::grid}, {"* Grid", "  Horizon", "  9:16 Frame"}},
        {{GuideKind::grid, GuideKind::horizon}, {"* Grid", "* Horizon", "  9:16 Frame"}},
        {{GuideKind::vertical}, {"  Grid", "  Horizon", "* 9:16 Frame"}},
    };
    for (const Case& c : cases) {
        const MenuEntries entries = guideMenuEntries(c.on);
        EXPECT_EQ(outline(entries), c.expected);
        for (const MenuEntry& entry : entries) {
            EXPECT_EQ(entry.kind, MenuEntryKind::toggle) << "each guide is on or off by itself";
            EXPECT_EQ(entry.command, MenuCommand::toggleGuide);
            EXPECT_EQ(entry.key, entry.title) << "the stored name is the row's text";
        }
    }
}

TEST(MenuEntries, TheConnectionMenuChecksTheCurrentRoute) {
    EXPECT_EQ(outline(connectionMenuEntries(ConnectionMode::usb)), (std::vector<std::string>{"* USB", "  Wireless"}));
    EXPECT_EQ(outline(connectionMenuEntries(ConnectionMode::wireless)),
              (std::vector<std::string>{"  USB", "* Wireless"}));
}

TEST(MenuEntries, FormatsFallIntoLandscapeAndVerticalInTheCamerasOrder) {
    const hk::VideoFormatOption hd{1920, 1080, 30};
    const hk::VideoFormatOption hd60{1920, 1080, 60};
    const hk::VideoFormatOption tall{1080, 1920, 30};
    const hk::VideoFormatOption square{1080, 1080, 30};
    const hk::VideoFormatOption small{640, 480, 30};
    struct Case {
        const char* name;
        std::vector<hk::VideoFormatOption> formats;
        std::optional<hk::VideoFormatOption> active;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"no formats: the landscape header alone", {}, std::nullopt, {"[Landscape]"}},
        {"landscape only: no vertical section",
         {small, hd},
         hd,
         {"[Landscape]", "  " + small.description(), "* " + hd.description()}},
        {"vertical only: the landscape section stays, empty",
         {tall},
         std::nullopt,
         {"[Landscape]", "[Vertical]", "  " + tall.description()}},
        {"mixed: each keeps the camera's order; a square counts as landscape",
         {tall, hd, square, hd60},
         hd60,
         {"[Landscape]", "  " + hd.description(), "  " + square.description(), "* " + hd60.description(),
          "[Vertical]", "  " + tall.description()}},
        {"the check needs the same rate too",
         {hd},
         hd60,
         {"[Landscape]", "  " + hd.description()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MenuEntries entries = formatMenuEntries(c.formats, c.active);
        EXPECT_EQ(outline(entries), c.expected);
        for (const MenuEntry& entry : entries) {
            if (entry.kind != MenuEntryKind::header) {
                EXPECT_EQ(entry.kind, MenuEntryKind::choice);
                EXPECT_EQ(entry.command, MenuCommand::chooseFormat);
            }
        }
    }
    const MenuEntries one = formatMenuEntries({hd60}, std::nullopt);
    EXPECT_EQ(one.back().key, hd60.id());
}

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
    return {menuToggleRow("Flag", true, MenuCommand::toggleGuide, "Grid"),
            menuSubmenu("Pick", std::move(rows), pickerEnabled), menuSeparator(),
            menuCommandRow("Go", MenuCommand::openOutputFolder, false), menuHeader("Section")};
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
    using Call = std::tuple<MenuCommand, std::string, int, bool>;
    std::vector<Call> calls;
    for (int round = 0; round < 3; ++round) {
        fillMenu(menu, entriesSample(2, false), [&calls](const MenuEntry& entry) {
            calls.emplace_back(entry.command, entry.key, entry.value, entry.checked);
        });
    }
    EXPECT_EQ(entriesDescribe(menu),
              "[x] Flag\nPick (off)\n  [ ] Row 1\n  [x] Row 2\n  [ ] Row 3\n-\nGo (off)\nSection (off)\n");
    EXPECT_TRUE(entriesAction(menu, "Section")->font().bold());
    // One picker submenu is left of the three fills, beside the foreign menu.
    EXPECT_EQ(menu.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
    EXPECT_TRUE(menu.findChildren<QMenu*>().contains(foreign));

    // Choices stand in no exclusive group (a tray would draw them as radio
    // buttons); choosing one, the current one too, says it is chosen.
    QMenu* picker = entriesAction(menu, "Pick")->menu();
    EXPECT_EQ(picker->actions()[0]->actionGroup(), nullptr);
    entriesAction(*picker, "Row 3")->trigger();
    entriesAction(*picker, "Row 2")->trigger();
    // The toggle was on: choosing it turns it off, and says so.
    entriesAction(menu, "Flag")->trigger();
    entriesAction(menu, "Flag")->trigger();
    const std::vector<Call> expected{{MenuCommand::setCountdownSeconds, "", 3, true},
                                     {MenuCommand::setCountdownSeconds, "", 2, true},
                                     {MenuCommand::toggleGuide, "Grid", 0, false},
                                     {MenuCommand::toggleGuide, "Grid", 0, true}};
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
    std::vector<MenuEntry> headerToRow = entriesSample(1, true);
    headerToRow[4].kind = MenuEntryKind::command;
    std::vector<MenuEntry> toggleToChoice = entriesSample(1, true);
    toggleToChoice[0].kind = MenuEntryKind::choice;
    std::vector<MenuEntry> flipped = entriesSample(3, false);
    flipped[0].checked = false;
    flipped[3].enabled = true;
    const std::string before = "[x] Flag\nPick\n  [x] Row 1\n  [ ] Row 2\n  [ ] Row 3\n-\nGo (off)\nSection (off)\n";
    const struct {
        const char* name;
        std::vector<MenuEntry> next;
        bool sameShape;
        std::string shown;
    } cases[] = {
        {"states change", flipped, true,
         "[ ] Flag\nPick (off)\n  [ ] Row 1\n  [ ] Row 2\n  [x] Row 3\n-\nGo\nSection (off)\n"},
        {"no row checked", entriesSample(0, true), true,
         "[x] Flag\nPick\n  [ ] Row 1\n  [ ] Row 2\n  [ ] Row 3\n-\nGo (off)\nSection (off)\n"},
        {"a header became a row", headerToRow, false, before},
        {"a title changed", renamed, false, before},
        {"a row more", longer, false, before},
        {"a choice fewer", fewerChoices, false, before},
        {"another kind", otherKind, false, before},
        {"a toggle became a choice", toggleToChoice, false, before},
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

// A menu of three choices, filled once and then only refreshed, as a menu
// that is rebuilt only when its content changes. It is opened and a row
// chosen as a person does, by a press on the row or by the arrow keys and
// Return; the check mark stays where the entries put it: on the current row
// when that is chosen again, and off a row the owner has not yet taken.
TEST(MenuEntries, AChoiceRowKeepsTheMarkItsEntriesGave) {
    const auto choices = [](int current) {
        MenuEntries rows;
        for (int value : {1, 2, 3}) {
            rows.push_back(menuChoiceRow("Row " + std::to_string(value), value == current,
                                         MenuCommand::setCountdownSeconds, value));
        }
        return rows;
    };
    const auto marked = [](const QMenu& menu) {
        std::vector<std::string> rows;
        for (const QAction* action : menu.actions()) {
            if (showsCheckMark(*action)) rows.push_back(action->text().toStdString());
        }
        return rows;
    };
    enum class Way { press, keys, refresh };
    const struct {
        const char* name;
        Way way;
        int row;  // the row chosen, or the row the refreshed entries make current
        std::vector<std::string> marked;
    } steps[] = {
        {"the current row pressed", Way::press, 2, {"Row 2"}},
        {"the current row chosen by keys", Way::keys, 2, {"Row 2"}},
        {"another row pressed: not current until the entries say so", Way::press, 3, {"Row 2"}},
        {"the entries say so", Way::refresh, 3, {"Row 3"}},
        {"the new current row pressed", Way::press, 3, {"Row 3"}},
        {"another row chosen by keys", Way::keys, 1, {"Row 3"}},
    };
    QWidget parent;
    QMenu menu(&parent);
    std::vector<int> chosen;
    fillMenu(menu, choices(2), [&chosen](const MenuEntry& entry) {
        EXPECT_TRUE(entry.checked) << "a choice is always chosen";
        chosen.push_back(entry.value);
    });
    // No exclusive group: a tray would draw its rows as radio buttons.
    EXPECT_EQ(menu.actions()[0]->actionGroup(), nullptr);
    std::vector<int> expectedChosen;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.way == Way::refresh) {
            ASSERT_TRUE(refreshMenu(menu, choices(step.row)));
        } else {
            menu.popup(parent.mapToGlobal(QPoint(10, 10)));
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
            QAction* row = menu.actions().at(step.row - 1);
            if (step.way == Way::press) {
                QTest::mouseClick(menu.windowHandle(), Qt::LeftButton, {}, menu.actionGeometry(row).center());
            } else {
                for (int down = 0; down < step.row; ++down) QTest::keyClick(&menu, Qt::Key_Down);
                ASSERT_EQ(menu.activeAction(), row);
                QTest::keyClick(&menu, Qt::Key_Return);
            }
            EXPECT_FALSE(menu.isVisible());
            expectedChosen.push_back(step.row);
        }
        EXPECT_EQ(chosen, expectedChosen);
        EXPECT_EQ(marked(menu), step.marked);
    }
}

}  // namespace
}  // namespace lumenhollow

namespace lumenhollow {
namespace {

// How many pixels of the row look like the destructive red.
int redPixels(QMenu& menu, QAction* action) {
    const QImage shown = menu.grab().toImage();
    const QRect row = menu.actionGeometry(action);
    const QColor red = ui::destructiveColor();
    int count = 0;
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x) {
            const QColor pixel = shown.pixelColor(x, y);
            if (pixel.red() > 180 && pixel.green() < red.green() + 50 && pixel.blue() < red.blue() + 50) ++count;
        }
    }
    return count;
}

TEST(MenuEntries, OnlyRowsThatDeleteSomethingAreDrawnRed) {
    ui::MenuStyle style;
    QWidget parent;
    QMenu menu(&parent);
    menu.setStyle(&style);
    MenuEntry remove = menuCommandRow("Remove Imported Look", MenuCommand::none);
    remove.destructive = true;
    fillMenu(menu, {menuCommandRow("Import Look", MenuCommand::none), remove}, {});
    menu.adjustSize();
    ASSERT_EQ(menu.actions().size(), 2);
    EXPECT_EQ(redPixels(menu, menu.actions()[0]), 0);
    EXPECT_GT(redPixels(menu, menu.actions()[1]), 20);

    // Refilled with the same title but nothing to delete: drawn as any row.
    fillMenu(menu, {menuCommandRow("Import Look", MenuCommand::none),
                    menuCommandRow("Remove Imported Look", MenuCommand::none)},
             {});
    menu.adjustSize();
    EXPECT_EQ(redPixels(menu, menu.actions()[1]), 0);
}

}  // namespace
}  // namespace lumenhollow
