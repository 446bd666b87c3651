#include "lumenhollow/ui/window/tool_actions.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/tool_rail.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

// The full-screen button of the bar (a landscape window) or the rail (a
// narrow portrait one), pressed where it shows while another window has the
// keyboard, as when a click does not activate its window: the button's own
// window goes full screen, and back to the maximised state it came from.
TEST(ToolActionsTest, TheFullScreenButtonsActOnTheirOwnWindowAndRestoreItsState) {
    const struct {
        const char* name;
        QSize picture;
        QSize window;
        bool rail;
    } cases[] = {
        {"the bottom bar", {1920, 1080}, {1152, 648}, false},
        {"the tool rail", {1080, 1920}, {457, 812}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        h.emit(CameraEvent::stats(picture(c.picture.width(), c.picture.height())));
        h.main.advance(CameraModel::kSettleDelay);
        h.main.runUntilIdle();
        MainWindow& window = h.show();
        window.resize(c.window);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() == c.window; }, 5000));
        // Whichever of the bar and the rail carries the tools at the window's size now.
        const auto press = [&] {
            auto* bar = qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
            auto* rail = qobject_cast<ToolRail*>(window.chrome().slotWidget(ChromeColumn::Slot::toolRail));
            QWidget& full = rail->isVisible() ? static_cast<QWidget&>(rail->fullScreenButton())
                                              : static_cast<QWidget&>(bar->fullScreenButton());
            ASSERT_TRUE(full.isVisible());
            const QPoint at = full.mapTo(&window, full.rect().center());
            EXPECT_EQ(window.childAt(at), &full) << "nothing covers it";
            QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
            h.main.runUntilIdle();
        };
        auto* rail = qobject_cast<ToolRail*>(window.chrome().slotWidget(ChromeColumn::Slot::toolRail));
        ASSERT_EQ(rail->isVisible(), c.rail);
        window.setWindowState(Qt::WindowMaximized);
        QWidget other;
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        ASSERT_NE(QApplication::activeWindow(), &window);

        press();
        EXPECT_TRUE(window.isFullScreen());
        EXPECT_FALSE(other.isFullScreen());
        QCoreApplication::processEvents();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        press();
        EXPECT_FALSE(window.isFullScreen());
        EXPECT_TRUE(window.isMaximized()) << "as it was before";
    }
}

// Each tool is one action of the window: a press on its button in the bar
// (a landscape window) and on its button in the rail (a narrow one) both
// trigger that same action, and the face not pressed shows the state the
// action took.
TEST(ToolActionsTest, TheBarsAndTheRailsButtonsPressOneActionPerTool) {
    struct Tool {
        const char* name;
        QAction& (ToolActions::*action)() const;
        ui::IconButton& (BottomBar::*barButton)() const;
        ui::IconButton& (ToolRail::*railButton)() const;
    };
    const Tool tools[] = {
        {"auto frame", &ToolActions::autoFrame, &BottomBar::autoFrameButton, &ToolRail::autoFrameButton},
        {"centre", &ToolActions::centre, &BottomBar::centreButton, &ToolRail::centreButton},
        {"flip", &ToolActions::flip, &BottomBar::flipButton, &ToolRail::flipButton},
        {"full screen", &ToolActions::fullScreen, &BottomBar::fullScreenButton, &ToolRail::fullScreenButton},
    };
    WindowHarness h;
    h.emit(CameraEvent::stats(picture(1080, 1920)));
    h.main.advance(CameraModel::kSettleDelay);
    h.main.runUntilIdle();
    MainWindow& window = h.show();
    auto* bar = qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    auto* rail = qobject_cast<ToolRail*>(window.chrome().slotWidget(ChromeColumn::Slot::toolRail));
    ASSERT_TRUE(bar && rail);
    const auto pressAt = [&](QWidget& button) {
        const QPoint at = button.mapTo(&window, button.rect().center());
        ASSERT_EQ(window.childAt(at), &button) << "nothing covers it";
        QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
        h.main.runUntilIdle();
    };
    const auto resizeTo = [&](QSize size) {
        window.resize(size);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() == size; }, 5000));
    };
    for (const Tool& tool : tools) {
        SCOPED_TRACE(tool.name);
        QAction& action = (window.toolActions().*tool.action)();
        ui::IconButton& onBar = (bar->*tool.barButton)();
        ui::IconButton& onRail = (rail->*tool.railButton)();
        EXPECT_EQ(onBar.toolTip(), action.toolTip());
        EXPECT_EQ(onRail.toolTip(), action.toolTip());
        QSignalSpy triggered(&action, &QAction::triggered);

        resizeTo({1152, 812});  // wide enough for the bar to carry the tools
        ASSERT_TRUE(onBar.isVisible());
        pressAt(onBar);
        EXPECT_EQ(triggered.count(), 1) << "the bar's button";
        EXPECT_EQ(onRail.isChecked(), action.isChecked());
        EXPECT_EQ(onBar.isChecked(), action.isChecked());
        if (window.isFullScreen()) window.showNormal();

        resizeTo({457, 812});
        ASSERT_TRUE(onRail.isVisible());
        pressAt(onRail);
        EXPECT_EQ(triggered.count(), 2) << "the rail's button";
        EXPECT_EQ(onBar.isChecked(), action.isChecked());
        EXPECT_EQ(onRail.isChecked(), action.isChecked());
    }
    // Full screen was left on by the rail's press: both faces show it, and
    // they follow the window when it leaves full screen another way.
    EXPECT_TRUE(window.isFullScreen());
    EXPECT_TRUE(bar->fullScreenButton().isChecked());
    EXPECT_TRUE(rail->fullScreenButton().isChecked());
    window.showNormal();
    EXPECT_FALSE(window.toolActions().fullScreen().isChecked());
    EXPECT_FALSE(bar->fullScreenButton().isChecked());
    EXPECT_FALSE(rail->fullScreenButton().isChecked());
}

}  // namespace
}  // namespace lumenhollow::test
