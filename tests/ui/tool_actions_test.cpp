#include "lumenhollow/ui/window/tool_actions.h"

#include <QTest>

#include <gtest/gtest.h>

#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_column.h"
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

}  // namespace
}  // namespace lumenhollow::test
