#include "lumenhollow/ui/shell/camera_menu_bar.h"

#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "../level_meter.h"
#include "../ui_harness.h"
#include "lumenhollow/ui/shell/updater.h"
#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/menu_style.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/sheet_host.h"
#include "lumenhollow/ui/window/tool_actions.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

// The window with its menu bar, over an updater whose message stays up
// until the test dismisses it.
struct MenuBarHarness : WindowHarness {
    std::function<void()> dismissUpdateMessage;
    Updater updater{QStringLiteral("1.0"), [this](const QString&, std::function<void()> dismissed) {
                        dismissUpdateMessage = std::move(dismissed);
                    }};
    CameraMenuBar* bar = nullptr;

    explicit MenuBarHarness(bool usb) : WindowHarness(usb) {
        // As the application does: the bar is in place before the window shows.
        window = std::make_unique<MainWindow>(*modelSignals, *feed);
        bar = new CameraMenuBar(*modelSignals, updater, window->toolActions().fullScreen(), window.get());
        window->setMenuBar(bar);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get(), 5000));
    }
    ~MenuBarHarness() { window.reset(); }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers) { QTest::keyClick(window.get(), key, modifiers); }
    size_t count(const std::string& command) const {
        const std::vector<std::string> all = commands();
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const std::string& line) {
            return line.rfind(command, 0) == 0;
        }));
    }
};

TEST(CameraMenuBarTest, CtrlRStartsAndStopsWhatThePictureAllows) {
    struct Case {
        const char* name;
        bool picture;
        bool recording;  // the camera's card records
        bool pictureDropsAfter;
        std::vector<std::string> sent;
    };
    const std::vector<Case> cases{
        {"with a picture it starts", true, false, false, {"setCardRecording on"}},
        {"without a picture it does nothing", false, false, false, {}},
        {"a recording stops", true, true, false, {"setCardRecording off"}},
        {"a recording whose picture dropped still stops", true, true, true, {"setCardRecording off"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MenuBarHarness h(false);
        if (c.picture) h.emit(CameraEvent::stats(picture(1920, 1080)));
        if (c.recording) h.emit(CameraEvent::cardRecording({true, false, 0}));
        if (c.pictureDropsAfter) h.emit(CameraEvent::stats(picture(1920, 1080, false)));
        const size_t before = h.commands().size();
        h.press(Qt::Key_R, Qt::ControlModifier);
        h.main.runUntilIdle();
        std::vector<std::string> after = h.commands();
        after.erase(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(before));
        EXPECT_EQ(after, c.sent);
    }
}

TEST(CameraMenuBarTest, AltWithADigitRecallsItsSceneOnce) {
    struct Case {
        const char* name;
        Qt::Key key;
        size_t moves;
        std::string notice;
    };
    const std::vector<Case> cases{
        {"Alt+2 recalls the second scene", Qt::Key_2, 1, "Scene 2"},
        {"Alt+5 without a fifth scene moves nothing", Qt::Key_5, 0, "before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MenuBarHarness h(true);
        for (int i = 0; i < 3; ++i) h.model->saveCurrentPositionAsScene();
        h.main.runUntilIdle();
        ASSERT_EQ(h.state().scenes.size(), 3u);
        ASSERT_EQ(h.bar->sceneActions().size(), 3u);
        h.model->postNotice("before");
        const size_t movesBefore = h.count("move");
        h.press(c.key, Qt::AltModifier);
        h.main.runUntilIdle();
        // One press, one recall: the menu and the picture's own keys must not both act.
        EXPECT_EQ(h.count("move") - movesBefore, c.moves);
        EXPECT_EQ(h.state().notice, c.notice);
    }
}

TEST(CameraMenuBarTest, CtrlQClosesTheOpenSheetThenAsksToQuit) {
    MenuBarHarness h(true);
    h.model->setShowShortcuts(true);
    ASSERT_EQ(h.window->sheets().shown(), SheetKind::shortcuts);
    h.press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(h.window->sheets().shown().has_value());
    EXPECT_EQ(h.shell.count("endSheets"), 1u);
    EXPECT_EQ(h.shell.count("requestTermination"), 0u) << "the termination comes on a later turn";
    h.main.runUntilIdle();
    EXPECT_EQ(h.shell.count("requestTermination"), 1u);
}

TEST(CameraMenuBarTest, ActionsFollowTheModelAndTheUpdater) {
    MenuBarHarness h(true);
    QAction& record = h.bar->action(CameraMenuCommand::toggleRecording);
    QAction& check = h.bar->checkForUpdatesAction();
    EXPECT_FALSE(record.isEnabled());
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    EXPECT_TRUE(record.isEnabled()) << "without opening the menu";

    EXPECT_TRUE(check.isEnabled());
    check.trigger();
    EXPECT_FALSE(check.isEnabled()) << "while the message is up";
    ASSERT_TRUE(h.dismissUpdateMessage);
    h.dismissUpdateMessage();
    EXPECT_TRUE(check.isEnabled());

    h.press(Qt::Key_Slash, Qt::ControlModifier);
    EXPECT_TRUE(h.state().showShortcuts);
}

// The View menu's item and the bottom bar's button are one full-screen
// action: whichever is pressed (or F11), both show the window's state, and
// the item's title follows it.
TEST(CameraMenuBarTest, TheFullScreenItemAndTheBarsButtonAreOneAction) {
    MenuBarHarness h(true);
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.main.advance(CameraModel::kSettleDelay);
    h.main.runUntilIdle();
    MainWindow& window = *h.window;
    window.resize(1152, 667);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() == QSize(1152, 667); }, 5000));
    QAction& item = h.bar->action(CameraMenuCommand::fullScreen);
    auto* bottom = qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    ASSERT_NE(bottom, nullptr);
    ui::IconButton& button = bottom->fullScreenButton();
    const auto pressButton = [&] {
        ASSERT_TRUE(button.isVisible());
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, button.mapTo(&window, button.rect().center()));
    };
    // Opens "View" by a press on its title in the menu bar, then presses the item.
    const auto pressItem = [&] {
        QAction* view = nullptr;
        for (QAction* menu : h.bar->actions())
            if (menu->menu() && menu->menu()->actions().contains(&item)) view = menu;
        ASSERT_NE(view, nullptr);
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                          h.bar->mapTo(&window, h.bar->actionGeometry(view).center()));
        QMenu* menu = view->menu();
        ASSERT_TRUE(menu->isVisible());
        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(&item).center());
    };
    const auto expectShown = [&](bool full, const char* after) {
        EXPECT_EQ(window.isFullScreen(), full) << after;
        EXPECT_EQ(item.isChecked(), full) << after;
        EXPECT_EQ(button.isChecked(), full) << after;
        EXPECT_EQ(item.text(), actionText(fullScreenTitle(full))) << after;
    };
    EXPECT_EQ(&item, &window.toolActions().fullScreen());
    expectShown(false, "at first");
    pressItem();
    expectShown(true, "the menu item");
    pressButton();
    expectShown(false, "the bar's button");
    h.press(Qt::Key_F11, {});
    expectShown(true, "F11");
    pressButton();
    expectShown(false, "the bar's button again");
    window.showFullScreen();
    expectShown(true, "the window manager");
}

TEST(CameraMenuBarTest, TwelveStoredScenesGiveNineItemsEachWithItsKey) {
    // Saving stops at nine; twelve come only from edited stored data, which
    // is read only as far as the nine slots.
    ModelHarness h;
    std::string json = "[";
    for (int i = 1; i <= 12; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", i);
        json += std::string(i > 1 ? "," : "") + R"({"id":")" + id + R"(","name":"R&D )" + std::to_string(i) +
                R"(","position":{"pan":1,"tilt":2}})";
    }
    json += "]";
    h.settings.set("scenes", hollowkit::Bytes(json.begin(), json.end()));
    // A USB camera, which takes positions: recalls act.
    h.cameras.setPocketConnected(true);
    h.createAndStart();
    ASSERT_EQ(h.state().scenes.size(), 9u);
    ModelSignals signals(h.model);
    Updater updater(QStringLiteral("1.0"), {});
    QWidget window;
    QAction fullScreen;
    CameraMenuBar bar(signals, updater, fullScreen, &window);

    const std::vector<QAction*>& items = bar.sceneActions();
    ASSERT_EQ(items.size(), 9u);
    const QList<QAction*> all = bar.cameraMenu().actions();
    const auto save = std::find(all.begin(), all.end(), &bar.action(CameraMenuCommand::saveScene));
    ASSERT_NE(save, all.end());
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        // In list order right after the save item, each shown as written.
        EXPECT_EQ(*(save + 1 + static_cast<std::ptrdiff_t>(i)), items[i]);
        EXPECT_EQ(items[i]->iconText(), QStringLiteral("Go to R&D %1").arg(i + 1));
        EXPECT_TRUE(QKeySequence::mnemonic(items[i]->text()).isEmpty());
        EXPECT_FALSE(items[i]->shortcut().isEmpty());
    }
    items[8]->trigger();
    EXPECT_EQ(h.state().notice, "R&D 9");
}

// Whether anything is drawn left of the row's title (a mark, a box, a bullet).
bool drawsBesideTitle(QMenu& menu, QAction& row) {
    menu.adjustSize();
    const QImage shot = menu.grab().toImage();
    // Inside the menu's frame, and left of where any title starts.
    const QRect geometry = menu.actionGeometry(&row).adjusted(2, 1, 0, -1);
    const QRgb background = shot.pixel(geometry.topLeft());
    for (int y = geometry.top(); y <= geometry.bottom(); ++y) {
        for (int x = geometry.left(); x < geometry.left() + 22; ++x) {
            if (shot.pixel(x, y) != background) return true;
        }
    }
    return false;
}

// The full-screen row's title says its state ("Enter Full Screen", "Exit
// Full Screen"): it carries neither a box nor a check mark. "Record Screen
// Too", off here, carries nothing either.
TEST(CameraMenuBarTest, RowsThatAreOffAndTheFullScreenRowDrawNothingBesideTheirTitles) {
    ModelHarness h;
    h.createAndStart();
    ModelSignals signals(h.model);
    Updater updater(QStringLiteral("1.0"), {});
    QWidget window;
    QAction fullScreen;
    fullScreen.setCheckable(true);
    CameraMenuBar bar(signals, updater, fullScreen, &window);
    QMenu* view = nullptr;
    for (QAction* menu : bar.actions())
        if (menu->menu() && menu->menu()->actions().contains(&fullScreen)) view = menu->menu();
    ASSERT_NE(view, nullptr);
    ui::MenuStyle style;
    view->setStyle(&style);
    bar.cameraMenu().setStyle(&style);
    for (const bool full : {false, true}) {
        fullScreen.setChecked(full);
        EXPECT_EQ(fullScreen.text(), actionText(fullScreenTitle(full)));
        EXPECT_FALSE(drawsBesideTitle(*view, fullScreen)) << full;
    }
    QAction& recordScreen = bar.action(CameraMenuCommand::recordScreen);
    ASSERT_TRUE(recordScreen.isCheckable());
    ASSERT_FALSE(recordScreen.isChecked());
    EXPECT_FALSE(drawsBesideTitle(bar.cameraMenu(), recordScreen));
    // The same row turned on shows its mark.
    recordScreen.setChecked(true);
    EXPECT_TRUE(drawsBesideTitle(bar.cameraMenu(), recordScreen));
}

TEST(CameraMenuBarTest, OfTheWholeWindowOnlyTheMicrophonesMeterHearsTheLevel) {
    MenuBarHarness h(true);
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    // One call a tick: the meter beside the microphone menu; none of the
    // bars, the rail, the scenes button, the gear or the menu bar.
    EXPECT_EQ(deliveriesDuringLevelMeter(h, *h.modelSignals, 15), 15u);
    // The menu bar still follows what it shows (no movie is started: one
    // still being written as the harness goes would outlive its executor).
    QAction& record = h.bar->action(CameraMenuCommand::toggleRecording);
    ASSERT_TRUE(record.isEnabled());
    h.emit(CameraEvent::cameraOff());
    EXPECT_FALSE(record.isEnabled());
}

}  // namespace
}  // namespace lumenhollow::test
