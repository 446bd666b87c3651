#include "lumenhollow/ui/window/sheet_host.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "lumenhollow/model/stored_settings.h"
#include "lumenhollow/ui/kit/text_button.h"
#include "lumenhollow/ui/panels/screen_permission_text.h"
#include "lumenhollow/ui/window/sheet_card.h"
#include "lumenhollow/ui/window/sheet_content.h"
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
// guide opens, `action` what happens `atMs` later. Once the camera was
// found, closing the sheet makes the switch at once; only the model closing
// it (as the quit request does) stops it.
TEST(SheetHostTest, TheUsbGuideSwitchesOnceItFoundTheCameraUnlessTheModelClosesIt) {
    enum class Action { none, plugIn, notNow, escape, windowClosed, quit, modelCloses };
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
        {"Escape while waiting", false, Action::escape, 1500, -1},
        {"Escape in the pause", true, Action::escape, 400, 400},
        {"Not Now in the pause", true, Action::notNow, 400, 400},
        {"window closed in the pause", true, Action::windowClosed, 400, 400},
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
            case Action::windowClosed: h.window.reset(); break;
            case Action::quit: h.model->afterClosingSheets(); break;
            case Action::modelCloses: h.model->dismissSheets(); break;
        }
        if (c.switchedAtMs > c.atMs) {
            h.main.advance(std::chrono::milliseconds(c.switchedAtMs - c.atMs - 1));
            EXPECT_EQ(h.state().connection, ConnectionMode::wireless) << "not before the pause is over";
            EXPECT_EQ(guide->footerText().toStdString(), usbGuideFooter(true).text);
            h.main.advance(std::chrono::milliseconds(1));
            EXPECT_EQ(h.state().connection, ConnectionMode::usb);
        } else if (c.switchedAtMs == c.atMs) {
            h.main.runUntilIdle();
            EXPECT_EQ(h.state().connection, ConnectionMode::usb) << "the pause ends with the sheet";
        } else {
            h.main.advanceSeconds(5);
            h.cameras.setPocketConnected(true);
            h.main.advanceSeconds(5);
            EXPECT_EQ(h.state().connection, ConnectionMode::wireless);
        }
        h.main.advanceSeconds(5);
        EXPECT_EQ(std::ranges::count(h.cameras.builds(), ConnectionMode::usb, &FakeCameraFactory::Build::mode),
                  c.switchedAtMs >= 0 ? 1 : 0)
            << "one switch at most";
        EXPECT_FALSE(h.state().showUSBGuide);
        if (h.window) {
            EXPECT_FALSE(window.sheets().shown());
        }
    }
}

// Every button of every sheet, pressed where it shows in the window, in the
// smallest window and a compact one: the window's own hit-testing finds it
// and its model call is made.
TEST(SheetHostTest, EveryButtonOfEverySheetWorksWhereItShowsInTheWindow) {
    enum class Opens { welcome, shortcuts, usbGuideWaiting, usbGuideFound, alert };
    const struct {
        const char* name;
        Opens opens;
        const char* button;
        ui::TextButtonKind kind;
        std::function<void(WindowHarness&)> effect;
    } cases[] = {
        {"Get Started", Opens::welcome, "Get Started", ui::TextButtonKind::prominent,
         [](WindowHarness& h) {
             EXPECT_FALSE(h.state().showWelcome);
             EXPECT_EQ(welcomed(h), true);
             h.main.advanceSeconds(1);
             EXPECT_FALSE(h.state().showShortcuts);
         }},
        {"Keyboard Shortcuts", Opens::welcome, "Keyboard Shortcuts", ui::TextButtonKind::plain,
         [](WindowHarness& h) {
             EXPECT_FALSE(h.state().showWelcome);
             h.main.advance(WelcomeSheet::kShortcutsDelay);
             EXPECT_TRUE(h.state().showShortcuts);
             EXPECT_EQ(h.window->sheets().shown(), SheetKind::shortcuts);
         }},
        {"Done", Opens::shortcuts, "Done", ui::TextButtonKind::prominent,
         [](WindowHarness& h) { EXPECT_FALSE(h.state().showShortcuts); }},
        {"Not Now while waiting", Opens::usbGuideWaiting, "Not Now", ui::TextButtonKind::plain,
         [](WindowHarness& h) {
             EXPECT_FALSE(h.state().showUSBGuide);
             h.cameras.setPocketConnected(true);
             h.main.advanceSeconds(3);
             EXPECT_EQ(h.state().connection, ConnectionMode::wireless);
         }},
        {"Not Now once found", Opens::usbGuideFound, "Not Now", ui::TextButtonKind::plain,
         [](WindowHarness& h) {
             EXPECT_FALSE(h.state().showUSBGuide);
             EXPECT_EQ(h.state().connection, ConnectionMode::usb);
         }},
        {"Cancel", Opens::alert, "Cancel", ui::TextButtonKind::plain,
         [](WindowHarness& h) {
             EXPECT_FALSE(h.window->sheets().shown());
             EXPECT_FALSE(h.model->isQuitRequested());
         }},
        // The panel's card's help, shown in the alert, which stays and grows to hold it.
        {"How to Allow Recording", Opens::alert, "How to Allow Recording", ui::TextButtonKind::plain,
         [](WindowHarness& h) {
             EXPECT_EQ(h.window->sheets().shown(), SheetKind::screenRecordingAlert);
             EXPECT_FALSE(h.model->isQuitRequested());
             SheetCard* card = h.window->sheets().card();
             ASSERT_NE(card, nullptr);
             const QString help = QString::fromUtf8(howToAllowRecordingHelp().data(),
                                                    static_cast<qsizetype>(howToAllowRecordingHelp().size()));
             const QList<QLabel*> labels = card->findChildren<QLabel*>();
             const auto shown = std::ranges::find_if(labels, [&](const QLabel* l) { return l->text() == help; });
             ASSERT_NE(shown, labels.end()) << "no help in the alert";
             EXPECT_TRUE((*shown)->isVisible());
             const int room = h.window->height() - 2 * SheetHost::kCardMargin;
             EXPECT_EQ(card->height(), std::min(card->naturalHeight(card->width()), room))
                 << "the card was not placed again for its help";
         }},
        {"Quit and Reopen", Opens::alert, "Quit and Reopen", ui::TextButtonKind::prominent,
         [](WindowHarness& h) {
             EXPECT_TRUE(h.model->isQuitRequested());
             EXPECT_TRUE(h.model->relaunchOnQuit());
         }},
    };
    for (const QSize size : {QSize(760, 428), QSize(1000, 563)}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << " at " << size.width() << "x" << size.height());
            const bool usbCases = c.opens == Opens::usbGuideWaiting || c.opens == Opens::usbGuideFound;
            WindowHarness h(!usbCases, c.opens != Opens::welcome);
            MainWindow& window = h.show();
            window.resize(size);
            ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() == size; }, 5000));
            switch (c.opens) {
                case Opens::welcome: break;
                case Opens::shortcuts: h.model->setShowShortcuts(true); break;
                case Opens::usbGuideWaiting:
                case Opens::usbGuideFound:
                    h.cameras.setPocketConnected(c.opens == Opens::usbGuideFound);
                    h.model->setShowUSBGuide(true);
                    break;
                case Opens::alert: window.sheets().present(SheetKind::screenRecordingAlert); break;
            }
            h.main.runUntilIdle();
            ASSERT_TRUE(window.sheets().shown());
            QPushButton* button = window.sheets().button(c.button);
            ASSERT_NE(button, nullptr);
            const QPoint at = button->mapTo(&window, button->rect().center());
            if (!window.rect().contains(at)) {
                ADD_FAILURE() << "outside the window, at " << at.x() << "," << at.y();
                continue;
            }
            EXPECT_EQ(window.childAt(at), button) << "nothing covers it";
            // The kit's button, prominent for the default action.
            const auto* kitButton = qobject_cast<ui::TextButton*>(button);
            ASSERT_NE(kitButton, nullptr);
            EXPECT_EQ(kitButton->kind(), c.kind);
            EXPECT_EQ(button->isDefault(), c.kind == ui::TextButtonKind::prominent);

            QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
            h.main.runUntilIdle();
            c.effect(h);
        }
    }
}

}  // namespace
}  // namespace lumenhollow
