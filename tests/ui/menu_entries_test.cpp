#include "lumenhollow/ui/window/menu_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hollowkit/imaging/lut_library.h"

namespace lumenhollow {
namespace {

namespace hk = hollowkit;

// A row as the test reads it: kind, title and check mark, submenu rows after a '>'.
std::vector<std::string> outline(const MenuEntries& entries) {
    std::vector<std::string> lines;
    for (const MenuEntry& entry : entries) {
        switch (entry.kind) {
            case MenuEntryKind::none: lines.push_back("?"); break;
            case MenuEntryKind::divider: lines.push_back("---"); break;
            case MenuEntryKind::header: lines.push_back("[" + entry.title + "]"); break;
            case MenuEntryKind::row: lines.push_back((entry.checked ? "* " : "  ") + entry.title); break;
            case MenuEntryKind::submenu:
                lines.push_back(entry.title + " >");
                for (const MenuEntry& row : entry.rows) {
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

TEST(MenuEntriesTest, TheLookMenuListsNoneTheLooksTheImportsTheirRemovalAndImport) {
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

TEST(MenuEntriesTest, EveryLookRowNamesTheCommandAndTheLookItActsOn) {
    const hk::ColorLUT sunset = look("/looks/Sunset.cube", "Sunset");
    const MenuEntries entries = lookMenuEntries(hk::LUTLibrary::builtIn(), {sunset}, std::nullopt);
    struct Expected {
        std::string title;
        MenuCommand command;
        std::string key;
    };
    std::vector<Expected> rows;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntryKind::row) rows.push_back({entry.title, entry.command, entry.key});
        for (const MenuEntry& row : entry.rows) rows.push_back({row.title, row.command, row.key});
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

TEST(MenuEntriesTest, GuidesAreCheckedEachOnItsOwn) {
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
            EXPECT_EQ(entry.command, MenuCommand::toggleGuide);
            EXPECT_EQ(entry.key, entry.title) << "the stored name is the row's text";
        }
    }
}

TEST(MenuEntriesTest, TheConnectionMenuChecksTheCurrentRoute) {
    EXPECT_EQ(outline(connectionMenuEntries(ConnectionMode::usb)), (std::vector<std::string>{"* USB", "  Wireless"}));
    EXPECT_EQ(outline(connectionMenuEntries(ConnectionMode::wireless)),
              (std::vector<std::string>{"  USB", "* Wireless"}));
}

TEST(MenuEntriesTest, FormatsFallIntoLandscapeAndVerticalInTheCamerasOrder) {
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
            if (entry.kind == MenuEntryKind::row) {
                EXPECT_EQ(entry.command, MenuCommand::chooseFormat);
            }
        }
    }
    const MenuEntries one = formatMenuEntries({hd60}, std::nullopt);
    EXPECT_EQ(one.back().key, hd60.id());
}

}  // namespace
}  // namespace lumenhollow
