#include "lumenhollow/ui/window/sheet_host.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "lumenhollow/model/stored_settings.h"
#include "lumenhollow/ui/window/usb_guide_sheet.h"
#include "lumenhollow/ui/window/welcome_sheet.h"
#include "ui_harness.h"

namespace lumenhollow {
namespace {

using test::WindowHarness;

std::optional<bool> welcomed(const WindowHarness& h) {
    return h.settings.get<bool>(settings_key::welcomed);
}

// The key goes where a user's would: to the window's keyboard focus.
void pressKey(MainWindow& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : static_cast<QWidget*>(&window), key, modifiers);
}

TEST(SheetHostTest, EveryWayOutOfTheWelcomeRemembersIt) {
    enum class Way { getStarted, returnKey, escapeKey, quit, windowClosed };
    const struct {
        const char* name;
        Way way;
    } cases[] = {{"Get Started", Way::getStarted},
                 {"Return", Way::returnKey},
                 {"Escape", Way::escapeKey},
                 {"quit", Way::quit},
                 {"window closed", Way::windowClosed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(true, false);
        MainWindow& window = h.show();
        ASSERT_EQ(window.sheets().shown(), SheetKind::welcome);
        EXPECT_FALSE(welcomed(h)) << "not before it goes";
        switch (c.way) {
            case Way::getStarted: QTest::mouseClick(window.sheets().button("Get Started"), Qt::LeftButton); break;
            case Way::returnKey: pressKey(window, Qt::Key_Return); break;
            case Way::escapeKey: pressKey(window, Qt::Key_Escape); break;
            case Way::quit: h.model->afterClosingSheets(); break;
            case Way::windowClosed: h.window.reset(); break;
        }
        h.main.runUntilIdle();
        EXPECT_EQ(welcomed(h), true);
        if (h.window) {
            EXPECT_FALSE(window.sheets().shown());
        }
        if (c.way != Way::windowClosed) {
            EXPECT_FALSE(h.state().showWelcome);
        }
    }
}

TEST(SheetHostTest, ASheetKeepsTheKeysFromThePictureUntilItGoes) {
    WindowHarness h(true, false);
    MainWindow& window = h.show();
    ASSERT_EQ(window.sheets().shown(), SheetKind::welcome);
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_C, Qt::Key_Plus}) {
        QTest::keyPress(QApplication::focusWidget(), key);
        h.main.runUntilIdle();
        EXPECT_EQ(h.velocity().pitch, 0) << key;
        EXPECT_EQ(h.velocity().yaw, 0) << key;
        EXPECT_TRUE(h.model->heldDirections().empty()) << key;
        QTest::keyRelease(QApplication::focusWidget(), key);
    }
    // Even sent to the picture itself, as when it kept the focus.
    QTest::keyPress(&window.surface(), Qt::Key_Right);
    h.main.runUntilIdle();
    EXPECT_TRUE(h.model->heldDirections().empty());
    QTest::keyRelease(&window.surface(), Qt::Key_Right);
    EXPECT_TRUE(h.commands().empty()) << "no recentre or zoom reached the camera";

    pressKey(window, Qt::Key_Return);
    h.main.runUntilIdle();
    ASSERT_FALSE(window.sheets().shown());
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Left);
    h.main.runUntilIdle();
    EXPECT_FALSE(h.model->heldDirections().empty()) << "the picture has the keys again";
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Left);
}

TEST(SheetHostTest, TheShortcutsSheetFollowsTheWelcomeNeverBesideIt) {
    const struct {
        const char* name;
        bool quitInBetween;
        bool shortcutsShown;
    } cases[] = {{"plain", false, true}, {"quit in between", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(true, false);
        MainWindow& window = h.show();
        std::vector<std::optional<SheetKind>> seen;
        h.modelSignals->onChange({Field::showWelcome, Field::showShortcuts}, &window,
                                 [&] { seen.push_back(window.sheets().shown()); });
        QTest::mouseClick(window.sheets().button("Keyboard Shortcuts"), Qt::LeftButton);
        EXPECT_FALSE(window.sheets().shown()) << "the welcome goes at once";
        EXPECT_EQ(welcomed(h), true);
        h.main.advance(WelcomeSheet::kShortcutsDelay - std::chrono::milliseconds(10));
        EXPECT_FALSE(h.state().showShortcuts) << "not before the welcome has gone";
        if (c.quitInBetween) h.model->afterClosingSheets();
        h.main.advance(std::chrono::milliseconds(10));
        EXPECT_EQ(h.state().showShortcuts, c.shortcutsShown);
        EXPECT_EQ(window.sheets().shown() == SheetKind::shortcuts, c.shortcutsShown);
        for (const std::optional<SheetKind>& shown : seen) EXPECT_NE(shown, SheetKind::welcome);
    }
}

// The camera is on wireless; "plugged" says whether it is on USB when the
// guide opens, `action` what happens `atMs` later.
TEST(SheetHostTest, TheUsbGuideSwitchesOnlyWhenItFoundTheCameraAndStayedOpen) {
    enum class Action { none, plugIn, notNow, escape, quit, modelCloses };
    const struct {
        const char* name;
        bool plugged;
        Action action;
        int atMs;
        int switchedAtMs;  // negative: never
    } cases[] = {
        {"already plugged in", true, Action::none, 0, 800},
        {"plugged in while waiting", false, Action::plugIn, 2500, 3800},
        {"Not Now while waiting", false, Action::notNow, 1500, -1},
        {"Escape in the pause", true, Action::escape, 400, -1},
        {"Not Now in the pause", true, Action::notNow, 400, -1},
        {"quit in the pause", true, Action::quit, 400, -1},
        {"closed by the model in the pause", true, Action::modelCloses, 400, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(false);
        MainWindow& window = h.show();
        ASSERT_EQ(h.state().connection, ConnectionMode::wireless);
        h.cameras.setPocketConnected(c.plugged);
        h.model->setShowUSBGuide(true);
        ASSERT_EQ(window.sheets().shown(), SheetKind::usbGuide);
        auto* guide = dynamic_cast<UsbGuideSheet*>(window.sheets().card());
        ASSERT_NE(guide, nullptr);
        EXPECT_EQ(guide->isDetected(), c.plugged) << "the first look is at once";

        h.main.advance(std::chrono::milliseconds(c.atMs));
        switch (c.action) {
            case Action::none: break;
            case Action::plugIn: h.cameras.setPocketConnected(true); break;
            case Action::notNow: QTest::mouseClick(window.sheets().button("Not Now"), Qt::LeftButton); break;
            case Action::escape: pressKey(window, Qt::Key_Escape); break;
            case Action::quit: h.model->afterClosingSheets(); break;
            case Action::modelCloses: h.model->dismissSheets(); break;
        }
        if (c.switchedAtMs >= 0) {
            h.main.advance(std::chrono::milliseconds(c.switchedAtMs - c.atMs - 1));
            EXPECT_EQ(h.state().connection, ConnectionMode::wireless) << "not before the pause is over";
            EXPECT_EQ(guide->footerText().toStdString(), usbGuideFooter(true).text);
            h.main.advance(std::chrono::milliseconds(1));
            EXPECT_EQ(h.state().connection, ConnectionMode::usb);
        } else {
            h.main.advanceSeconds(5);
            h.cameras.setPocketConnected(true);
            h.main.advanceSeconds(5);
            EXPECT_EQ(h.state().connection, ConnectionMode::wireless);
        }
        EXPECT_FALSE(h.state().showUSBGuide);
        EXPECT_FALSE(window.sheets().shown());
    }
}

}  // namespace
}  // namespace lumenhollow
