// A popover opened by a press in the window stays with its button when the
// window's layout moves the button: the screen-recording popover follows
// the button when the SCREEN chip widens the record pill beside it.

#include <QTest>

#include <gtest/gtest.h>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/kit/switch_button.h"
#include "lumenhollow/ui/panels/screen_recording_button.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

struct FollowMotionOff {
    FollowMotionOff() { ui::setAnimationsEnabled(false); }
    ~FollowMotionOff() { ui::setAnimationsEnabled(true); }
};

// The arrow's tip in global coordinates, for a popover above its button.
QPoint arrowTip(const ui::Popover& popover) {
    const QRect frame = popover.geometry();
    return {frame.x() + popover.placement().arrowAt, frame.y() + frame.height()};
}

TEST(PopoverFollowTest, TheScreenRecordingPopoverFollowsItsButtonWhenTheCaptureGroupWidens) {
    FollowMotionOff still;
    WindowHarness h;
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.main.advance(CameraModel::kSettleDelay);
    h.main.runUntilIdle();
    MainWindow& window = h.show();
    window.resize(1152, 648);
    QCoreApplication::processEvents();

    auto* button = window.findChild<ScreenRecordingButton*>();
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isVisible());
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, button->mapTo(&window, button->rect().center()));
    h.main.runUntilIdle();
    QCoreApplication::processEvents();
    ui::Popover& popover = *button->popover();
    ASSERT_TRUE(popover.isPresented());
    ASSERT_EQ(popover.placement().edge, ui::PopoverEdge::above);

    const QPoint before = button->mapToGlobal(QPoint(button->width() / 2, 0));
    EXPECT_EQ(arrowTip(popover).x(), before.x());
    // The panel's switch turns the screen on: the chip widens the record
    // pill, and the centred group moves the button.
    auto* screenSwitch = popover.content()->findChild<ui::SwitchButton*>();
    ASSERT_NE(screenSwitch, nullptr);
    QTest::mouseClick(popover.windowHandle(), Qt::LeftButton, {},
                      screenSwitch->mapTo(&popover, screenSwitch->rect().center()));
    h.main.runUntilIdle();
    ASSERT_TRUE(h.state().recordScreen);
    // The pill's layout and then the group's run on later turns of the loop.
    const auto centre = [&] { return button->mapToGlobal(QPoint(button->width() / 2, 0)); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return centre().x() != before.x(); }, 5000)) << "the button did not move";
    const QPoint after = centre();
    ASSERT_TRUE(popover.isPresented());
    EXPECT_EQ(arrowTip(popover).x(), after.x());
    EXPECT_EQ(popover.geometry().bottom() + 1 + ui::Popover::kGap, button->mapToGlobal(QPoint(0, 0)).y());
    popover.dismiss();
    h.main.runUntilIdle();
}

}  // namespace
}  // namespace lumenhollow::test
