#include "lumenhollow/ui/window/look_menu.h"

#include <gtest/gtest.h>

#include <QKeySequence>
#include <QMenu>

#include "bars_harness.h"

namespace lumenhollow::test {
namespace {

bool hasRow(QMenu& menu, const QString& text) {
    Q_EMIT menu.aboutToShow();
    for (QAction* action : menu.actions()) {
        if (action->text() == text) return true;
    }
    return false;
}

TEST(LookMenuTest, ChoosingRemovingAndImportingMoveTheOneCheckMark) {
    BarsHarness h;
    QMenu menu;
    bindLookMenu(menu, *h.modelSignals);
    struct Step {
        const char* name;
        std::function<void()> act;
        std::optional<std::string> selected;
        std::vector<std::string> checked;
        bool importedSections;
    };
    const std::vector<Step> steps{
        {"at first", [] {}, std::nullopt, {"None"}, false},
        {"a built-in look", [&] { ASSERT_TRUE(chooseRow(menu, "Mono")); }, "Mono", {"Mono"}, false},
        {"a title with an ampersand", [&] { ASSERT_TRUE(chooseRow(menu, "Teal & Orange")); }, "Teal & Orange",
         {"Teal && Orange"}, false},
        {"importing selects the last look loaded", [&] { h.importLooks({"Sunset", "Night"}); }, "Night", {"Night"},
         true},
        {"an imported look", [&] { ASSERT_TRUE(chooseRow(menu, "Sunset")); }, "Sunset", {"Sunset"}, true},
        {"the chosen row again keeps it", [&] { ASSERT_TRUE(chooseRow(menu, "Sunset")); }, "Sunset", {"Sunset"},
         true},
        {"removing another import keeps the check",
         [&] { ASSERT_TRUE(chooseRow(menu, "Night", "Remove Imported LUT")); }, "Sunset", {"Sunset"}, true},
        {"removing the chosen and last import: None, and both sections go",
         [&] { ASSERT_TRUE(chooseRow(menu, "Sunset", "Remove Imported LUT")); }, std::nullopt, {"None"}, false},
        {"a look, then None", [&] {
             ASSERT_TRUE(chooseRow(menu, "Warm"));
             ASSERT_TRUE(chooseRow(menu, "None"));
         },
         std::nullopt, {"None"}, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        h.main.runUntilIdle();
        EXPECT_EQ(h.selectedLookName(), step.selected);
        EXPECT_EQ(checkedRows(menu), step.checked);
        EXPECT_EQ(hasRow(menu, "Imported"), step.importedSections);
        EXPECT_EQ(hasRow(menu, "Remove Imported LUT"), step.importedSections);
        EXPECT_TRUE(hasRow(menu, QString::fromUtf8("Import .cube or PNG LUT\u2026")));
    }
}

TEST(LookMenuTest, ImportRowOpensTheChooserAndARowOfAGoneLookDoesNothing) {
    BarsHarness h;
    QMenu menu;
    bindLookMenu(menu, *h.modelSignals);
    ASSERT_TRUE(chooseRow(menu, QString::fromUtf8("Import .cube or PNG LUT\u2026")));
    EXPECT_TRUE(h.picker.isOpen());
    h.picker.cancel();

    h.importLooks({"Dusk"});
    ASSERT_TRUE(chooseRow(menu, "None"));
    // The menu was filled while the look existed; it goes before the row is chosen.
    Q_EMIT menu.aboutToShow();
    QAction* dusk = nullptr;
    for (QAction* action : menu.actions()) {
        if (action->text() == "Dusk") dusk = action;
    }
    ASSERT_NE(dusk, nullptr);
    h.model->removeImportedLUT(h.state().customLUTs.front());
    dusk->trigger();
    EXPECT_EQ(h.state().selectedLUT, std::nullopt);
    EXPECT_TRUE(h.state().customLUTs.empty());
}

// The stored looks are read after the window is up: the menu, filled as it
// opens, lists each look that has arrived by then and checks the stored
// choice once its look is there.
TEST(LookMenuTest, StoredLooksShowAsTheyArrive) {
    hollowkit::testsupport::TempDir folder;
    StringArray paths;
    for (const char* name : {"Dawn", "Dusk"}) {
        paths.push_back(folder.file(std::string(name) + ".cube"));
        std::ofstream out(paths.back());
        out << "LUT_3D_SIZE 2\n";
        for (int i = 0; i < 8; ++i) out << "0.5 0.25 0.125\n";
    }
    ModelHarness h;
    h.settings.set("customLUTPaths", paths);
    h.settings.set("selectedLUT", paths.back());
    hollowkit::ManualExecutor lookQueue;
    CameraModelServices services = h.services();
    services.imaging.lookQueue = &lookQueue;
    h.model = CameraModel::create(std::move(services));
    h.main.runUntilIdle();
    ModelSignals signals(h.model);
    QMenu menu;
    bindLookMenu(menu, signals);

    struct Step {
        bool dawn;
        bool dusk;
        std::vector<std::string> checked;
    };
    for (const Step& step : {Step{false, false, {"None"}}, Step{true, false, {"None"}}, Step{true, true, {"Dusk"}}}) {
        SCOPED_TRACE(step.checked.front() + (step.dawn ? " Dawn" : "") + (step.dusk ? " Dusk" : ""));
        EXPECT_EQ(hasRow(menu, "Dawn"), step.dawn);
        EXPECT_EQ(hasRow(menu, "Dusk"), step.dusk);
        EXPECT_EQ(checkedRows(menu), step.checked);
        lookQueue.runOne();
        h.main.runUntilIdle();
    }
}

TEST(LookMenuTest, NoTitleCarriesAnAltKey) {
    // Alt with a digit recalls scenes: a title must never name a mnemonic.
    BarsHarness h;
    h.importLooks({"Salt & Pepper"});
    QMenu looks;
    bindLookMenu(looks, *h.modelSignals);
    QMenu guides;
    bindGuideMenu(guides, *h.modelSignals);
    for (QMenu* menu : {&looks, &guides}) {
        Q_EMIT menu->aboutToShow();
        for (QAction* action : menu->actions()) {
            SCOPED_TRACE(action->text().toStdString());
            EXPECT_TRUE(QKeySequence::mnemonic(action->text()).isEmpty());
            if (QMenu* sub = action->menu()) {
                for (QAction* row : sub->actions()) EXPECT_TRUE(QKeySequence::mnemonic(row->text()).isEmpty());
            }
        }
    }
}

TEST(GuideMenuTest, EachGuideTogglesOnItsOwn) {
    BarsHarness h;
    QMenu menu;
    bindGuideMenu(menu, *h.modelSignals);
    struct Step {
        const char* row;
        std::set<GuideKind> on;
        std::vector<std::string> checked;
    };
    const std::vector<Step> steps{
        {"Grid", {GuideKind::grid}, {"Grid"}},
        {"Horizon", {GuideKind::grid, GuideKind::horizon}, {"Grid", "Horizon"}},
        {"Grid", {GuideKind::horizon}, {"Horizon"}},
        {"9:16 Frame", {GuideKind::horizon, GuideKind::vertical}, {"Horizon", "9:16 Frame"}},
    };
    EXPECT_TRUE(checkedRows(menu).empty());
    for (const Step& step : steps) {
        SCOPED_TRACE(step.row);
        ASSERT_TRUE(chooseRow(menu, step.row));
        EXPECT_EQ(h.state().guides, step.on);
        EXPECT_EQ(checkedRows(menu), step.checked);
    }
}

}  // namespace
}  // namespace lumenhollow::test
