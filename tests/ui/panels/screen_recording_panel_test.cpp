// The screen-recording button, panel and card wired to the real model: each
// control reaches the right model call, and what the model refuses does not
// show.

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/popover_scroll_area.h"
#include "lumenhollow/ui/kit/segmented_control.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/panels/corner_picker.h"
#include "lumenhollow/ui/panels/screen_permission_card.h"
#include "lumenhollow/ui/panels/screen_recording_button.h"
#include "lumenhollow/ui/panels/screen_recording_panel.h"
#include "panel_harness.h"

namespace lumenhollow::test {
namespace {

// Lets the layouts' posted requests, and what they post in turn, run.
void settleLayouts() {
    for (int round = 0; round < 4; ++round) QCoreApplication::processEvents();
}

struct ScreenPanelRig : PanelHarness {
    ScreenRecordingPanel panel{*modelSignals, nullptr};
    explicit ScreenPanelRig(bool usb = true) : PanelHarness(usb) { panel.show(); }
    // A button is pressed as the keyboard would, wherever the layout put it.
    void press(QAbstractButton& button) {
        button.click();
        main.runUntilIdle();
    }
    void click(QWidget& widget, QPoint at = {}) {
        QTest::mouseClick(&widget, Qt::LeftButton, {}, at.isNull() ? widget.rect().center() : at);
        main.runUntilIdle();
    }
    // A press at a place in the panel's window, reaching whatever lies there.
    void clickInWindow(QWidget& widget, QPoint at) {
        QTest::mouseClick(panel.windowHandle(), Qt::LeftButton, {}, widget.mapTo(&panel, at));
        main.runUntilIdle();
    }
};

TEST(ScreenRecordingPanelTest, ApplyChangesRebuildsTheLastTakeWithTheChosenStyle) {
    ScreenPanelRig rig;
    const auto take = rig.takeFolder("Lumenhollow Screen Recording 1", {"Screen.mov", "Camera.mov"});
    rig.model->setLastScreenTake(take);
    rig.main.runUntilIdle();
    ASSERT_FALSE(rig.panel.rebuildBlock().isHidden());
    rig.clickInWindow(rig.panel.cornerPicker(), QPoint(19, 19));  // top left, medium size
    rig.click(rig.panel.applyButton());
    ASSERT_EQ(rig.compositions->size(), 1u);
    EXPECT_EQ(rig.compositions->last().request.screen, take / "Screen.mov");
    EXPECT_EQ(rig.compositions->last().request.style.corner, hollowkit::BubbleCorner::topLeading);
    // Composing makes the model busy: the block waits.
    EXPECT_FALSE(rig.panel.rebuildBlock().isEnabled());
    EXPECT_FALSE(rig.panel.applyButton().isEnabled());
}

TEST(ScreenRecordingPanelTest, RebuildAnotherTakeAsksForAFolderThroughTheModel) {
    ScreenPanelRig rig;
    rig.model->setLastScreenTake(rig.takeFolder("last", {"Screen.mov", "Camera.mov"}));
    rig.main.runUntilIdle();
    rig.click(rig.panel.rebuildAnotherButton());
    ASSERT_TRUE(rig.picker.isOpen());
    ASSERT_EQ(rig.picker.folderRequests().size(), 1u);
    EXPECT_EQ(rig.picker.folderRequests().front().prompt, "Rebuild");
    const auto older = rig.takeFolder("older", {"Screen.mov", "Camera.mov"});
    ASSERT_TRUE(rig.picker.chooseFolder(older));
    rig.main.runUntilIdle();
    ASSERT_EQ(rig.compositions->size(), 1u);
    EXPECT_EQ(rig.compositions->last().request.camera, older / "Camera.mov");
}

TEST(ScreenRecordingPanelTest, TheSwitchAsksTheModelAndShowsItsRefusalWhileBusy) {
    ScreenPanelRig rig;
    rig.click(rig.panel.recordSwitch());
    EXPECT_TRUE(rig.state().recordScreen);
    EXPECT_TRUE(rig.panel.recordSwitch().isOn());
    // A rebuild keeps the model busy: flipping changes nothing.
    rig.model->rebuildScreenTake(rig.takeFolder("t", {"Screen.mov", "Camera.mov"}));
    rig.main.runUntilIdle();
    ASSERT_TRUE(rig.model->isBusy());
    rig.click(rig.panel.recordSwitch());
    EXPECT_TRUE(rig.state().recordScreen);
    EXPECT_TRUE(rig.panel.recordSwitch().isOn());
}

// A screen reader finds "Record Screen and Camera" checkable, reads on and
// off as the model holds them, and flips it through the model as a click
// does; a flip the model refuses while it composes leaves it showing the
// model's value.
TEST(ScreenRecordingPanelTest, TheSwitchInTheAccessibleTreeShowsAndAsksTheModel) {
    ScreenPanelRig rig;
    QAccessibleInterface* onOff = QAccessible::queryAccessibleInterface(&rig.panel.recordSwitch());
    ASSERT_NE(onOff, nullptr);
    ASSERT_NE(onOff->actionInterface(), nullptr);
    EXPECT_EQ(onOff->text(QAccessible::Name), QStringLiteral("Record Screen and Camera"));
    const auto toggle = [&] { onOff->actionInterface()->doAction(QAccessibleActionInterface::toggleAction()); };
    const auto press = [&] { onOff->actionInterface()->doAction(QAccessibleActionInterface::pressAction()); };
    const struct {
        const char* name;
        std::function<void()> act;
        bool on;
    } steps[] = {
        {"off at first", [] {}, false},
        {"toggled on", toggle, true},
        {"pressed off", press, false},
        {"the model turns it on", [&] { rig.model->setRecordScreen(true); }, true},
        {"toggled off", toggle, false},
        {"pressed on", press, true},
        {"composing: the model is busy",
         [&] { rig.model->rebuildScreenTake(rig.takeFolder("t", {"Screen.mov", "Camera.mov"})); }, true},
        {"toggled while busy: refused", toggle, true},
        {"pressed while busy: refused", press, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        rig.main.runUntilIdle();
        EXPECT_EQ(rig.state().recordScreen, step.on);
        EXPECT_TRUE(onOff->state().checkable);
        EXPECT_EQ(onOff->state().checked, step.on);
        EXPECT_FALSE(onOff->state().disabled) << "the switch is never disabled";
        EXPECT_TRUE(onOff->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    }
    ASSERT_TRUE(rig.model->isBusy());
}

TEST(ScreenRecordingPanelTest, PickersAndBoxesWriteTheModel) {
    ScreenPanelRig rig;
    rig.model->setRecordScreen(true);
    rig.fakes.displays().setDisplays({{1, 0, 0, 1920, 1080, true, false}, {2, 1920, 0, 1280, 1024, false, false}});
    rig.model->refreshDisplays();
    rig.main.runUntilIdle();
    ASSERT_FALSE(rig.panel.displayMenu().isHidden());
    ASSERT_EQ(rig.panel.displayMenu().count(), 3);
    rig.panel.displayMenu().activated(2);
    EXPECT_EQ(rig.state().screenDisplayID, std::optional<uint32_t>(2));

    auto& shape = rig.panel.shapePicker();
    rig.click(shape, QPoint(shape.width() * 3 / 4, shape.height() / 2));
    EXPECT_EQ(rig.state().bubbleStyle.shape, hollowkit::BubbleShape::cutout);
    EXPECT_FALSE(rig.panel.backgroundPicker().isVisible());
    auto& size = rig.panel.sizePicker();
    rig.click(size, QPoint(2, size.height() / 2));
    EXPECT_EQ(rig.state().bubbleStyle.size, hollowkit::BubbleSize::small);
    const bool zoomWas = rig.state().autoZoom;
    rig.click(rig.panel.autoZoomBox());
    EXPECT_EQ(rig.state().autoZoom, !zoomWas);
    rig.click(rig.panel.macSoundBox());
    EXPECT_TRUE(rig.state().includeMacSound);
}

TEST(ScreenRecordingPanelTest, TheCardComesWithDeniedAccessAndItsButtonsAct) {
    ScreenPanelRig rig;
    EXPECT_TRUE(rig.panel.permissionCard().isHidden());
    rig.fakes.displays().setCanCapture(false);
    rig.panel.hide();
    rig.panel.show();
    ASSERT_FALSE(rig.panel.permissionCard().isHidden());
    ScreenPermissionCard& card = rig.panel.permissionCard();
    EXPECT_TRUE(card.helpLabel().isHidden());
    // Nothing on the card sends the user to a place only macOS has.
    for (const QPushButton* button : card.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->text().contains(QStringLiteral("System Settings"))) << button->text().toStdString();
    }
    rig.press(card.settingsButton());
    // No settings page to open here: the card says what to do instead.
    EXPECT_FALSE(card.helpLabel().isHidden());
    EXPECT_FALSE(rig.model->relaunchOnQuit());
    rig.press(card.reopenButton());
    EXPECT_TRUE(rig.model->relaunchOnQuit());
    EXPECT_NE(std::ranges::find(rig.shell.calls(), "requestTermination"), rig.shell.calls().end());
}

// Standing alone (not in a popover) the panel takes all the height it
// wants; in a popover on a short screen the part under the switch scrolls
// (tests/ui/shell/x11/popover_room_x11_test.cpp).
TEST(ScreenRecordingPanelTest, OutsideAPopoverNothingScrolls) {
    ScreenPanelRig rig(false);
    rig.model->setLastScreenTake(rig.takeFolder("Lumenhollow Screen Recording 1", {"Screen.mov", "Camera.mov"}));
    rig.main.runUntilIdle();
    settleLayouts();
    EXPECT_EQ(rig.panel.scrollingPart().verticalScrollBar()->maximum(), 0);
}

TEST(ScreenRecordingButtonTest, EachPressTogglesThePanelAndReadsTheDisplaysAgain) {
    PanelHarness h;
    ScreenRecordingButton button(*h.modelSignals, nullptr);
    button.show();
    const int reads = h.fakes.displays().displaysCalls();
    QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center());
    EXPECT_TRUE(h.state().showScreenOptions);
    h.main.runUntilIdle();
    EXPECT_GT(h.fakes.displays().displaysCalls(), reads);
    const int afterOpen = h.fakes.displays().displaysCalls();
    QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center());
    h.main.runUntilIdle();
    EXPECT_FALSE(h.state().showScreenOptions);
    EXPECT_GT(h.fakes.displays().displaysCalls(), afterOpen);
}

// Each way of closing: the popover the press opened holds the panel, and
// closing it clears the flag that opened it.
TEST(ScreenRecordingButtonTest, ThePopoverHoldsThePanelAndClosingItClearsTheFlag) {
    const struct {
        const char* name;
        std::function<void(ScreenRecordingButton&, PanelHarness&)> close;
    } cases[] = {
        {"Escape", [](ScreenRecordingButton& b, PanelHarness&) { QTest::keyClick(b.popover(), Qt::Key_Escape); }},
        {"dismiss", [](ScreenRecordingButton& b, PanelHarness&) { b.popover()->dismiss(); }},
        {"button hidden", [](ScreenRecordingButton& b, PanelHarness&) { b.hide(); }},
        {"button pressed again",
         [](ScreenRecordingButton& b, PanelHarness&) {
             QTest::mouseClick(&b, Qt::LeftButton, {}, b.rect().center());
         }},
        {"flag cleared by the model", [](ScreenRecordingButton&, PanelHarness& h) {
             h.model->setShowScreenOptions(false);
         }},
    };
    for (const auto& c : cases) {
        PanelHarness h;
        QWidget window;
        window.resize(500, 700);
        auto* button = new ScreenRecordingButton(*h.modelSignals, &window);
        button->move(230, 640);
        window.show();
        ASSERT_FALSE(button->popover()->isPresented()) << c.name;
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        h.main.runUntilIdle();
        ASSERT_TRUE(button->popover()->isPresented()) << c.name;
        EXPECT_EQ(button->popover()->edge(), ui::PopoverEdge::above) << c.name;
        EXPECT_NE(qobject_cast<ScreenRecordingPanel*>(button->popover()->content()), nullptr) << c.name;
        // Above the button, not over it.
        EXPECT_LE(button->popover()->geometry().bottom(), button->mapToGlobal(QPoint(0, 0)).y()) << c.name;
        c.close(*button, h);
        h.main.runUntilIdle();
        EXPECT_FALSE(button->popover()->isPresented()) << c.name;
        EXPECT_FALSE(h.state().showScreenOptions) << c.name;
    }
}

TEST(ScreenRecordingButtonTest, TheFlagSetElsewhereOpensThePanelOnlyWhileTheButtonShows) {
    PanelHarness h;
    QWidget window;
    auto* button = new ScreenRecordingButton(*h.modelSignals, &window);
    // Not on screen: the flag cannot stay set with nothing showing it.
    h.model->setShowScreenOptions(true);
    h.main.runUntilIdle();
    EXPECT_FALSE(button->popover()->isPresented());
    EXPECT_FALSE(h.state().showScreenOptions);
    window.show();
    h.model->setShowScreenOptions(true);
    h.main.runUntilIdle();
    EXPECT_TRUE(button->popover()->isPresented());
    EXPECT_TRUE(h.state().showScreenOptions);
}

TEST(ScreenRecordingButtonTest, WhileBusyTheButtonIsDisabledAndFadedWhenOff) {
    PanelHarness h;
    ScreenRecordingButton button(*h.modelSignals, nullptr);
    h.model->rebuildScreenTake(h.takeFolder("t", {"Screen.mov", "Camera.mov"}));
    h.main.runUntilIdle();
    ASSERT_TRUE(h.model->isBusy());
    EXPECT_FALSE(button.isEnabled());
    EXPECT_DOUBLE_EQ(button.opacity(), 0.45);
    QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center());
    EXPECT_FALSE(h.state().showScreenOptions);
}

}  // namespace
}  // namespace lumenhollow::test
