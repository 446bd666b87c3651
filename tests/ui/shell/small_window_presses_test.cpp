// The smallest windows the sizer gives, with the menu bar in the window as
// the application has it: the landscape window on a 760 x 428 screen, a
// portrait picture on that screen, and the portrait minimum on a taller one.
// At each, presses at positions in the top-level window on the gear, the
// joystick and every control of the bottom bar (and, in rail, the rail's
// tools) reach their actions.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../ui_harness.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/status_pill.h"
#include "lumenhollow/ui/shell/window_sizer.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/chrome_layout.h"
#include "lumenhollow/ui/window/joystick_pad.h"
#include "lumenhollow/ui/window/rail_menu.h"
#include "lumenhollow/ui/window/settings_menu.h"
#include "lumenhollow/ui/window/tool_actions.h"
#include "lumenhollow/ui/window/tool_rail.h"
#include "lumenhollow/ui/window/video_surface.h"

namespace lumenhollow {
namespace {

using hollowkit::CameraEvent;
using test::picture;

struct MotionOff {
    MotionOff() { ui::setAnimationsEnabled(false); }
    ~MotionOff() { ui::setAnimationsEnabled(true); }
};

// The real window with a menu bar, sized by the real sizer on a screen of
// the test's choosing, with the application's floor.
struct SmallWindow : test::WindowHarness {
    std::unique_ptr<WindowSizer> sizer;

    SmallWindow(QSize pictureSize, QRect screen) {
        // A microphone with a long name and formats to choose from: the
        // widest the top row and the connection cluster get.
        const hollowkit::MicrophoneOption microphone{"mic", "Built-in Audio Analog Stereo Microphone Array", std::nullopt};
        const hollowkit::VideoFormatOption format{1920, 1080, 30};
        camera()->setDevices({microphone}, microphone, {format, {1080, 1920, 30}}, format);
        emit(CameraEvent::devicesChanged());
        // And the status pill with both its figures.
        emit(CameraEvent::battery({100, true}));
        emit(CameraEvent::cardStorage({999999, 1999999}));
        emit(CameraEvent::stats(picture(pictureSize.width(), pictureSize.height())));
        main.advance(CameraModel::kSettleDelay);
        main.runUntilIdle();
        show();
        auto* bar = new QMenuBar(window.get());
        bar->addMenu(QStringLiteral("Lumenhollow"));
        bar->addMenu(QStringLiteral("Camera"));
        window->setMenuBar(bar);
        window->resizeToDefault();
        window->move(0, 0);
        settle();
        WindowSizer::Options options;
        // The platform's frame lies outside the screen, so the content has all of it.
        options.availableArea = [screen](const QWidget& shown) {
            const QRect frame = shown.frameGeometry();
            const QRect content = shown.geometry();
            return screen.adjusted(frame.left() - content.left(), frame.top() - content.top(),
                                   frame.right() - content.right(), frame.bottom() - content.bottom());
        };
        options.floor = FitFloor{static_cast<int>(kRailBelowWidth),
                                 FitSize{static_cast<int>(kRailFloor.width), static_cast<int>(kRailFloor.height)},
                                 FitSize{static_cast<int>(kWideFloor.width), static_cast<int>(kWideFloor.height)},
                                 static_cast<int>(kWideShortestHeight)};
        sizer = std::make_unique<WindowSizer>(*modelSignals, main, options);
        sizer->attach(window.get());
        settle();
    }
    ~SmallWindow() { sizer.reset(); }

    void settle() {
        QCoreApplication::processEvents();
        main.runUntilIdle();
        QCoreApplication::processEvents();
    }
    int menuBarHeight() const { return window->menuWidget()->height(); }
    ChromeColumn& chrome() const { return window->chrome(); }
    BottomBar& bar() const { return *qobject_cast<BottomBar*>(chrome().slotWidget(ChromeColumn::Slot::bottomBar)); }
    ToolRail& rail() const { return *qobject_cast<ToolRail*>(chrome().slotWidget(ChromeColumn::Slot::toolRail)); }
    JoystickPad& joystick() const {
        return *qobject_cast<JoystickPad*>(chrome().slotWidget(ChromeColumn::Slot::joystick));
    }
    SettingsMenu& gear() const {
        return *qobject_cast<SettingsMenu*>(chrome().slotWidget(ChromeColumn::Slot::settingsMenu));
    }
    QPoint inWindow(const QWidget& widget, QPoint at) const { return widget.mapTo(window.get(), at); }
};

// One screen and picture, and the window content the sizer gives them.
struct Size {
    const char* name;
    QSize picture;
    QRect screen;
    bool rail;
};

// A control, where it is shown, where a person presses on it, and whether
// its action came: at the press (menus, the joystick) or with the release.
enum class Shown { always, wide, rail };
struct Control {
    const char* name;
    Shown shown;
    bool actsOnPress;
    std::function<QPoint(SmallWindow&)> at;
    std::function<bool(SmallWindow&)> acted;
};

QPoint centreOf(SmallWindow& w, const QWidget& widget) { return w.inWindow(widget, widget.rect().center()); }

// The menu now open, closed again once it has been seen.
bool menuOpened(const QMenu& expected) {
    QWidget* popup = QApplication::activePopupWidget();
    const bool opened = popup == &expected;
    if (popup) popup->close();
    QCoreApplication::processEvents();
    return opened;
}

TEST(SmallWindowPressesTest, EveryControlOfTheSmallestWindowsActsThroughTheWindow) {
    MotionOff still;
    const std::vector<Size> sizes{
        {"landscape on a 760 x 428 screen", {1920, 1080}, {0, 0, 760, 428}, false},
        {"portrait on the same screen", {1080, 1920}, {0, 0, 760, 428}, false},
        {"the portrait minimum", {1080, 1920}, {0, 0, 1280, 800}, true},
    };
    int fullScreens = 0;
    int autoFrames = 0;
    const auto pressCounts = [](QAction& action, int& count) {
        QObject::connect(&action, &QAction::triggered, &action, [&count] { ++count; });
    };
    const std::vector<Control> controls{
        {"the gear", Shown::always, true, [](SmallWindow& w) { return centreOf(w, w.gear()); },
         [](SmallWindow& w) { return menuOpened(w.gear().menu()); }},
        {"the joystick's up arrow", Shown::always, true,
         [](SmallWindow& w) { return w.inWindow(w.joystick(), w.joystick().arrowCentre(GimbalDirection::up).toPoint()); },
         [](SmallWindow& w) { return w.velocity().pitch == 150; }},
        {"the connection menu", Shown::always, true, [](SmallWindow& w) { return centreOf(w, w.bar().connectionMenu()); },
         [](SmallWindow& w) { return menuOpened(*w.bar().connectionMenu().menu()); }},
        {"the format menu", Shown::always, true, [](SmallWindow& w) { return centreOf(w, w.bar().formatMenu()); },
         [](SmallWindow& w) { return menuOpened(*w.bar().formatMenu().menu()); }},
        {"the guide menu", Shown::wide, true, [](SmallWindow& w) { return centreOf(w, w.bar().guideMenu()); },
         [](SmallWindow& w) { return menuOpened(w.window->toolActions().guideMenu()); }},
        {"the look menu", Shown::wide, true, [](SmallWindow& w) { return centreOf(w, w.bar().lookMenu()); },
         [](SmallWindow& w) { return menuOpened(w.window->toolActions().lookMenu()); }},
        {"the auto frame circle", Shown::wide, false, [](SmallWindow& w) { return centreOf(w, w.bar().autoFrameButton()); },
         [&autoFrames](SmallWindow&) { return autoFrames == 1; }},
        {"the centre circle", Shown::wide, false, [](SmallWindow& w) { return centreOf(w, w.bar().centreButton()); },
         [](SmallWindow& w) { return w.camera()->gimbal().takeRecenterRequest(); }},
        {"the flip circle", Shown::wide, false, [](SmallWindow& w) { return centreOf(w, w.bar().flipButton()); },
         [](SmallWindow& w) { return w.commands() == std::vector<std::string>{"flipGimbal"}; }},
        {"the rail's centre", Shown::rail, false, [](SmallWindow& w) { return centreOf(w, w.rail().centreButton()); },
         [](SmallWindow& w) { return w.camera()->gimbal().takeRecenterRequest(); }},
        {"the rail's flip", Shown::rail, false, [](SmallWindow& w) { return centreOf(w, w.rail().flipButton()); },
         [](SmallWindow& w) { return w.commands() == std::vector<std::string>{"flipGimbal"}; }},
        // Last: it takes the window to full screen.
        {"the full-screen circle", Shown::wide, false, [](SmallWindow& w) { return centreOf(w, w.bar().fullScreenButton()); },
         [&fullScreens](SmallWindow&) { return fullScreens == 1; }},
    };
    for (const Size& size : sizes) {
        SCOPED_TRACE(size.name);
        for (const Control& control : controls) {
            if (control.shown == (size.rail ? Shown::wide : Shown::rail)) continue;
            SCOPED_TRACE(control.name);
            SmallWindow w(size.picture, size.screen);
            MainWindow& window = *w.window;
            fullScreens = 0;
            autoFrames = 0;
            pressCounts(window.toolActions().fullScreen(), fullScreens);
            pressCounts(window.toolActions().autoFrame(), autoFrames);
            // The composition is the window's content, no larger.
            ASSERT_EQ(window.surface().size(), QSize(window.width(), window.height() - w.menuBarHeight()));
            EXPECT_LE(window.width(), size.screen.width());
            EXPECT_LE(window.height(), size.screen.height());
            EXPECT_EQ(window.widthClasses().rail, size.rail);
            // The microphone control keeps to the room the row leaves it.
            const QWidget& microphone = *w.chrome().slotWidget(ChromeColumn::Slot::microphone);
            EXPECT_LT(microphone.geometry().right(), w.chrome().statusPill().geometry().left());
            const QPoint at = control.at(w);
            ASSERT_TRUE(window.rect().contains(at)) << "off the window at " << at.x() << "," << at.y();
            QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, at);
            w.main.runUntilIdle();
            if (control.actsOnPress) {
                EXPECT_TRUE(control.acted(w));
            }
            QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, at);
            w.main.runUntilIdle();
            QCoreApplication::processEvents();
            if (!control.actsOnPress) {
                EXPECT_TRUE(control.acted(w));
            }
        }
    }
}

}  // namespace
}  // namespace lumenhollow
