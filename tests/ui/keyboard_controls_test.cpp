// The main window by keys alone, sent to the window as a person types them:
// Tab goes from the picture through every control over it, as they are
// read, and back to the picture; Space and Return open each menu and
// popover; the arrows still turn the camera from any control.

#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "hollowkit/testing/fake_audio_input.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/popover.h"
#include "lumenhollow/ui/panels/microphone_menu_button.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/keyboard_order.h"
#include "lumenhollow/ui/window/scenes_button.h"
#include "lumenhollow/ui/window/settings_menu.h"
#include "lumenhollow/ui/window/video_surface.h"
#include "lumenhollow/ui/window/zoom_control.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

TEST(ReadingOrderTest, RowsFromTheTopEachFromTheLeft) {
    const struct {
        const char* name;
        std::vector<RectF> boxes;
        std::vector<size_t> order;
    } cases[] = {
        {"nothing", {}, {}},
        {"one row given right to left", {{300, 10, 30, 30}, {200, 12, 30, 26}, {10, 8, 80, 34}}, {2, 1, 0}},
        {"a lower row after the top one",
         {{10, 500, 60, 30}, {400, 10, 30, 30}, {10, 10, 30, 30}, {200, 505, 30, 20}},
         {2, 1, 0, 3}},
        {"a box lower by less than half joins the row", {{100, 10, 30, 30}, {10, 20, 30, 30}}, {1, 0}},
        {"a box whose middle lies below starts a row", {{100, 10, 30, 30}, {10, 30, 30, 60}}, {0, 1}},
        {"a column at the right edge, top to bottom",
         {{600, 300, 34, 34}, {600, 200, 34, 34}, {10, 10, 30, 30}, {600, 100, 34, 34}},
         {2, 3, 1, 0}},
        {"equal boxes keep the given order", {{10, 10, 30, 30}, {10, 10, 30, 30}}, {0, 1}},
    };
    for (const auto& c : cases) EXPECT_EQ(readingOrder(c.boxes), c.order) << c.name;
}

struct MotionOff {
    MotionOff() { ui::setAnimationsEnabled(false); }
    ~MotionOff() { ui::setAnimationsEnabled(true); }
};

// This computer's one microphone, so the microphone menu has rows.
struct OneMicrophone {
    hollowkit::FakeAudioInputBackend inputs;
    OneMicrophone() {
        inputs.setInputs({{"alsa_input.pci", "Built-in Audio"}});
        inputs.setDefaultInputId("alsa_input.pci");
    }
};

MainWindow& showLive(WindowHarness& h) {
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.main.advance(CameraModel::kSettleDelay);
    h.main.runUntilIdle();
    MainWindow& window = h.show();
    window.resize(QSize(1152, 648));
    QCoreApplication::processEvents();
    return window;
}

void press(MainWindow& window, Qt::Key key) { QTest::keyClick(window.windowHandle(), key); }

// Tab until `control` has the keyboard; false after a whole round without it.
bool tabTo(MainWindow& window, const QWidget& control) {
    for (size_t i = 0; i <= window.keyboardStops().size(); ++i) {
        if (control.hasFocus()) return true;
        press(window, Qt::Key_Tab);
    }
    return control.hasFocus();
}

TEST(KeyboardControlsTest, TabGoesThroughEveryControlAsReadAndBackToThePicture) {
    MotionOff motionOff;
    OneMicrophone microphones;
    WindowHarness h(true, true, &microphones.inputs);
    MainWindow& window = showLive(h);
    ASSERT_TRUE(window.surface().hasFocus());
    BottomBar& bar = *qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    auto* scenes = qobject_cast<ScenesButton*>(window.chrome().slotWidget(ChromeColumn::Slot::scenesButton));
    ASSERT_TRUE(scenes);
    auto* settings = window.chrome().slotWidget(ChromeColumn::Slot::settingsMenu);
    auto* microphone = window.chrome().findChild<MicrophoneMenuButton*>();
    ASSERT_TRUE(microphone);
    auto* zoom = qobject_cast<ZoomControl*>(window.chrome().slotWidget(ChromeColumn::Slot::zoom));
    ASSERT_TRUE(zoom);

    // One round of Tab from the picture, as the focus went.
    std::vector<const QWidget*> visited;
    for (int i = 0; i < 60; ++i) {
        press(window, Qt::Key_Tab);
        if (window.surface().hasFocus()) break;
        visited.push_back(QApplication::focusWidget());
    }
    ASSERT_TRUE(window.surface().hasFocus()) << "Tab never came back to the picture";
    const auto at = [&](const QWidget* control) {
        return std::find(visited.begin(), visited.end(), control) - visited.begin();
    };
    const struct {
        const char* name;
        const QWidget* control;
    } expected[] = {
        {"microphone", microphone},
        {"scenes", scenes->current()},
        {"settings", settings},
        {"zoom out", &zoom->minusButton()},
        {"zoom in", &zoom->plusButton()},
        {"guide", &bar.guideMenu()},
        {"look", &bar.lookMenu()},
        {"connection", &bar.connectionMenu()},
        {"format", &bar.formatMenu()},
        {"full screen", &bar.fullScreenButton()},
        {"flip", &bar.flipButton()},
    };
    long previous = -1;
    for (const auto& e : expected) {
        // The format and microphone menus take the keyboard only where
        // they have something to choose.
        if (!e.control->isVisibleTo(&window) || !e.control->isEnabled()) continue;
        const long index = at(e.control);
        EXPECT_LT(index, static_cast<long>(visited.size())) << e.name << " was never reached";
        EXPECT_GT(index, previous) << e.name << " out of reading order";
        previous = std::max(previous, index);
    }
    // Each visited once, and Shift+Tab goes the same way back.
    std::vector<const QWidget*> sorted = visited;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    for (auto it = visited.rbegin(); it != visited.rend(); ++it) {
        press(window, Qt::Key_Backtab);
        EXPECT_EQ(QApplication::focusWidget(), *it);
    }
    press(window, Qt::Key_Backtab);
    EXPECT_TRUE(window.surface().hasFocus());
}

TEST(KeyboardControlsTest, SpaceAndReturnOpenEachMenuAndPopover) {
    MotionOff motionOff;
    OneMicrophone microphones;
    WindowHarness h(true, true, &microphones.inputs);
    MainWindow& window = showLive(h);
    BottomBar& bar = *qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    auto* scenes = qobject_cast<ScenesButton*>(window.chrome().slotWidget(ChromeColumn::Slot::scenesButton));
    auto* settings = qobject_cast<SettingsMenu*>(window.chrome().slotWidget(ChromeColumn::Slot::settingsMenu));
    auto* microphone = window.chrome().findChild<MicrophoneMenuButton*>();
    ASSERT_TRUE(scenes && settings && microphone);

    const auto menuOpen = [](QMenu* menu) { return [menu] { return menu->isVisible(); }; };
    const auto closeMenu = [](QMenu* menu) { return [menu] { menu->hide(); }; };
    const struct {
        const char* name;
        QWidget* control;
        std::function<bool()> open;
        std::function<void()> close;
    } cases[] = {
        {"scenes", scenes->current(), [&] { return h.model->state().showScenes && scenes->popover()->isPresented(); },
         [&] { scenes->popover()->dismiss(); }},
        {"settings", settings, menuOpen(&settings->menu()), closeMenu(&settings->menu())},
        {"microphone", microphone, menuOpen(microphone->menu()), closeMenu(microphone->menu())},
        {"guide", &bar.guideMenu(), menuOpen(bar.guideMenu().menu()), closeMenu(bar.guideMenu().menu())},
        {"look", &bar.lookMenu(), menuOpen(bar.lookMenu().menu()), closeMenu(bar.lookMenu().menu())},
        {"connection", &bar.connectionMenu(), menuOpen(bar.connectionMenu().menu()),
         closeMenu(bar.connectionMenu().menu())},
        {"format", &bar.formatMenu(), menuOpen(bar.formatMenu().menu()), closeMenu(bar.formatMenu().menu())},
    };
    for (const auto& c : cases) {
        if (!c.control->isVisibleTo(&window) || !c.control->isEnabled()) continue;
        for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
            SCOPED_TRACE(std::string(c.name) + (key == Qt::Key_Space ? " by Space" : " by Return"));
            ASSERT_TRUE(tabTo(window, *c.control));
            EXPECT_TRUE(ui::showsFocusRing(*c.control));
            EXPECT_FALSE(c.open());
            press(window, key);
            h.main.runUntilIdle();
            QCoreApplication::processEvents();
            EXPECT_TRUE(c.open());
            // A screen reader reads the button as expanded while it is open.
            EXPECT_TRUE(ui::pressedOpen(*c.control));
            c.close();
            h.main.runUntilIdle();
            QCoreApplication::processEvents();
        }
    }
}

TEST(KeyboardControlsTest, TheZoomButtonsStepByKeysAndTakeNoClickOfTheirOwn) {
    MotionOff motionOff;
    WindowHarness h;
    MainWindow& window = showLive(h);
    auto* zoom = qobject_cast<ZoomControl*>(window.chrome().slotWidget(ChromeColumn::Slot::zoom));
    ASSERT_TRUE(zoom);
    const double start = h.model->state().zoom.value_or(0);
    ASSERT_TRUE(tabTo(window, zoom->plusButton()));
    EXPECT_TRUE(ui::showsFocusRing(zoom->plusButton()));
    press(window, Qt::Key_Space);
    h.main.runUntilIdle();
    const double after = h.model->state().zoom.value_or(0);
    EXPECT_GT(after, start);
    press(window, Qt::Key_Backtab);
    ASSERT_TRUE(zoom->minusButton().hasFocus());
    press(window, Qt::Key_Return);
    h.main.runUntilIdle();
    EXPECT_LT(h.model->state().zoom.value_or(0), after);
    // A click on plus is one step, the control's, not one more of the
    // button's; the keyboard goes back to the picture, and no ring stays.
    const double before = h.model->state().zoom.value_or(0);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                      zoom->plusButton().mapTo(&window, zoom->plusButton().rect().center()));
    h.main.runUntilIdle();
    const double clicked = h.model->state().zoom.value_or(0);
    EXPECT_GT(clicked, before);
    EXPECT_TRUE(window.surface().hasFocus());
    EXPECT_FALSE(ui::showsFocusRing(zoom->minusButton()) || ui::showsFocusRing(zoom->plusButton()));
    h.main.advance(std::chrono::seconds(1));
    h.main.runUntilIdle();
    EXPECT_EQ(h.model->state().zoom.value_or(0), clicked);
}

TEST(KeyboardControlsTest, AnArrowOnAControlTurnsTheCameraAndGivesThePictureTheKeyboard) {
    MotionOff motionOff;
    OneMicrophone microphones;
    WindowHarness h(true, true, &microphones.inputs);
    MainWindow& window = showLive(h);
    BottomBar& bar = *qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    ASSERT_TRUE(tabTo(window, bar.guideMenu()));
    QTest::keyPress(window.windowHandle(), Qt::Key_Left);
    h.main.runUntilIdle();
    EXPECT_TRUE(window.surface().hasFocus());
    EXPECT_FALSE(h.model->heldDirections().empty());
    QTest::keyRelease(window.windowHandle(), Qt::Key_Left);
    h.main.runUntilIdle();
    EXPECT_TRUE(h.model->heldDirections().empty());
    EXPECT_FALSE(bar.guideMenu().menu()->isVisible());
}

}  // namespace
}  // namespace lumenhollow::test
