// Every popover at its fullest on the smallest screen the window is made
// for, a test X server of 760 x 428 with no window manager: the scenes
// popover with nine scenes, the screen-recording options with every row
// they can show, the camera settings with manual exposure and the white
// balance set by hand. Each lies wholly on the screen; the scenes list
// shortens to the room its header and footer leave and scrolls to its last
// row; the options scroll under their switch to "Apply Changes", which
// takes a press in the popover's window.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "../../panels/panel_harness.h"
#include "../../panels/scenes_rig.h"
#include "hollowkit/testing/xvfb_server.h"
#include "lumenhollow/ui/kit/pop_up_button.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/popover_scroll_area.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/panels/scenes_panel.h"
#include "lumenhollow/ui/panels/scenes_panel_state.h"
#include "lumenhollow/ui/panels/screen_permission_card.h"
#include "lumenhollow/ui/panels/screen_recording_button.h"
#include "lumenhollow/ui/panels/screen_recording_panel.h"
#include "lumenhollow/ui/window/camera_settings_button.h"

namespace lumenhollow {
namespace {

constexpr int kSmallestWidth = 760;
constexpr int kSmallestHeight = 428;

class PopoverRoomX11Test : public testing::Test {
protected:
    void SetUp() override {
        if (!hollowkit::XvfbServer::program()) GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb)";
        auto started = xvfb_.start(kSmallestWidth, kSmallestHeight);
        ASSERT_TRUE(started.has_value()) << started.error();
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", QByteArray::fromStdString(xvfb_.displayName()));
        qputenv("QT_SCALE_FACTOR", "1");
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

    // Lets the layouts' posted requests, and what they post in turn, run.
    static void settle() {
        for (int round = 0; round < 4; ++round) QCoreApplication::processEvents();
    }

    // `popover` shown, laid out, wholly on the screen and clear of the
    // button it opened from.
    static void expectOnScreen(ui::Popover& popover, const QWidget& button) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&popover, 5000));
        settle();
        const QRect screen(0, 0, kSmallestWidth, kSmallestHeight);
        EXPECT_TRUE(screen.contains(popover.geometry()))
            << "the popover at " << popover.x() << "," << popover.y() << " " << popover.width() << "x"
            << popover.height() << " leaves the screen";
        EXPECT_FALSE(popover.geometry().intersects(QRect(button.mapToGlobal(QPoint(0, 0)), button.size())))
            << "the popover covers its button";
    }

    hollowkit::XvfbServer xvfb_;
    int argc_ = 1;
    char name_[22] = "popover_room_x11_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

TEST_F(PopoverRoomX11Test, NineScenesShortenTheListToTheScreensRoom) {
    scenes_test::ScenesRig rig(9);
    ScenesPanel* panel = rig.open();
    ASSERT_NE(panel, nullptr);
    ui::Popover& popover = *rig.button->popover();
    expectOnScreen(popover, *rig.button);
    QListWidget& list = *panel->list();
    const int others = panel->height() - list.height();
    EXPECT_LT(list.height(), scenesListHeight(9)) << "the list keeps its full height";
    EXPECT_EQ(list.height(), scenesListHeight(9, popover.bodyRoom(ScenesPanel::kWidth) - others));
    // The footer on the screen, and the last row scrolled to.
    const QWidget* save = panel->findChild<QWidget*>(QStringLiteral("save"));
    ASSERT_NE(save, nullptr);
    EXPECT_LE(save->mapToGlobal(QPoint(0, save->height())).y(), kSmallestHeight);
    list.scrollToBottom();
    settle();
    const QRect last = list.visualItemRect(list.item(8));
    EXPECT_TRUE(last.top() >= 0 && last.bottom() <= list.viewport()->rect().bottom())
        << "the ninth row cannot be scrolled to: rows " << last.top() << " to " << last.bottom() << " of "
        << list.viewport()->height();
}

TEST_F(PopoverRoomX11Test, TheFullestScreenOptionsScrollUnderTheirSwitch) {
    test::PanelHarness h(false);
    h.fakes.displays().setDisplays({{1, 0, 0, 760, 428, true, false}, {2, 760, 0, 1512, 944, false, false}});
    h.model->refreshDisplays();
    h.main.runUntilIdle();
    h.fakes.displays().setCanCapture(false);
    h.model->setLastScreenTake(h.takeFolder("Lumenhollow Screen Recording 1", {"Screen.mov", "Camera.mov"}));
    h.main.runUntilIdle();
    QWidget window;
    window.setGeometry(0, 0, kSmallestWidth, kSmallestHeight);
    auto* button = new ScreenRecordingButton(*h.modelSignals, &window);
    button->move(420, 340);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 5000));
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    h.main.runUntilIdle();
    ui::Popover& popover = *button->popover();
    ASSERT_TRUE(popover.isPresented());
    auto& panel = *qobject_cast<ScreenRecordingPanel*>(popover.content());
    expectOnScreen(popover, *button);
    QTest::mouseClick(&panel.permissionCard().settingsButton(), Qt::LeftButton);
    h.main.runUntilIdle();
    settle();
    ASSERT_FALSE(panel.permissionCard().helpLabel().isHidden());
    ASSERT_FALSE(panel.displayMenu().isHidden());
    ASSERT_FALSE(panel.rebuildBlock().isHidden());
    expectOnScreen(popover, *button);
    EXPECT_LE(panel.height(), popover.bodyRoom(ScreenRecordingPanel::kWidth));
    ui::PopoverScrollArea& part = panel.scrollingPart();
    ASSERT_GT(part.verticalScrollBar()->maximum(), 0) << "nothing to scroll: the fullest panel fits this screen";
    part.ensureWidgetVisible(&panel.applyButton());
    settle();
    const QPoint at = panel.applyButton().mapTo(&popover, panel.applyButton().rect().center());
    ASSERT_TRUE(popover.rect().contains(at));
    QTest::mouseClick(popover.windowHandle(), Qt::LeftButton, {}, at);
    h.main.runUntilIdle();
    EXPECT_EQ(h.compositions->size(), 1u) << "the press did not reach \"Apply Changes\"";
}

// Manual exposure and the white balance set by hand: the rows scroll where
// the room above the pill is too short for them.
TEST_F(PopoverRoomX11Test, TheFullestCameraSettingsLieOnTheScreen) {
    test::ModelHarness h;
    h.cameras.setPocketConnected(false);
    h.createAndStart();
    ModelSignals signals(h.model);
    QWidget window;
    window.setGeometry(0, 0, kSmallestWidth, kSmallestHeight);
    auto* button = new CameraSettingsButton(signals, &window);
    button->move(330, 375);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 5000));
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    h.main.runUntilIdle();
    ui::Popover& popover = *button->popover();
    ASSERT_TRUE(popover.isPresented());
    QWidget& panel = *popover.content();
    // Manual exposure, the mode's third row.
    panel.findChild<ui::PopUpButton*>(QStringLiteral("Mode"))->activated(2);
    panel.findChild<ui::SwitchButton*>(QStringLiteral("autoWhiteBalance"))->click();
    h.main.runUntilIdle();
    settle();
    ASSERT_TRUE(panel.findChild<QSlider*>(QStringLiteral("kelvin"))->isVisible());
    ASSERT_TRUE(panel.findChild<ui::PopUpButton*>(QStringLiteral("ISO"))->isVisible());
    expectOnScreen(popover, *button);
    EXPECT_LE(panel.height(), popover.bodyRoom(panel.width()));
}

}  // namespace
}  // namespace lumenhollow
