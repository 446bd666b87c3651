// Presses at positions in the top-level window, through the window's own
// hit-testing, as a person makes them: the panels' buttons under the
// chrome, the glass of the bottom bar and the rail, and the controls on it.

#include <QGraphicsOpacityEffect>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/pill_button.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/camera_off_overlay.h"
#include "lumenhollow/ui/window/camera_settings_button.h"
#include "lumenhollow/ui/window/chrome_column.h"
#include "lumenhollow/ui/window/connecting_overlay.h"
#include "lumenhollow/ui/window/preview_overlays.h"
#include "lumenhollow/ui/window/rail_menu.h"
#include "lumenhollow/ui/window/tool_rail.h"
#include "lumenhollow/ui/window/usb_hint.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

struct MotionOff {
    MotionOff() { ui::setAnimationsEnabled(false); }
    ~MotionOff() { ui::setAnimationsEnabled(true); }
};

// The centre of `widget` in the window's coordinates.
QPoint centreIn(const MainWindow& window, const QWidget& widget) {
    return widget.mapTo(&window, widget.rect().center());
}

void clickAt(MainWindow& window, QPoint at) {
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
}

// A live picture, upright in a window narrow enough for the rail, or
// landscape in a wide one.
MainWindow& showLive(WindowHarness& h, bool rail) {
    h.emit(rail ? CameraEvent::stats(picture(1080, 1920)) : CameraEvent::stats(picture(1920, 1080)));
    h.main.advance(CameraModel::kSettleDelay);
    h.main.runUntilIdle();
    MainWindow& window = h.show();
    window.resize(rail ? QSize(457, 812) : QSize(1152, 648));
    QCoreApplication::processEvents();
    return window;
}

TEST(WindowPressesTest, ThePanelsButtonsTakePressesThroughTheChrome) {
    enum class Button { hintOverConnecting, hintOverCameraOff, reconnect };
    struct Case {
        const char* name;
        bool cameraOff;
        bool onUSBNow;
        Button button;
        bool guide;
        ConnectionMode route;
        size_t newBuilds;
    };
    const std::vector<Case> cases{
        {"\"Use USB-C Instead\" without the cable opens the guide", false, false, Button::hintOverConnecting, true,
         ConnectionMode::wireless, 0},
        {"\"Use USB-C Instead\" with the cable switches", false, true, Button::hintOverConnecting, false,
         ConnectionMode::usb, 1},
        {"the camera-off panel's \"Use USB-C Instead\"", true, true, Button::hintOverCameraOff, false,
         ConnectionMode::usb, 1},
        {"the camera-off panel's hint without the cable", true, false, Button::hintOverCameraOff, true,
         ConnectionMode::wireless, 0},
        {"\"Reconnect\" builds the camera again", false, false, Button::reconnect, false, ConnectionMode::wireless, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(false);
        h.emit(c.cameraOff ? CameraEvent::cameraOff() : CameraEvent::failed("No camera"));
        MainWindow& window = h.show();
        window.resize(1152, 648);
        QCoreApplication::processEvents();
        h.cameras.setPocketConnected(c.onUSBNow);
        const size_t builds = h.cameras.builds().size();
        const PreviewOverlays& overlays = window.previewOverlays();
        const QWidget* button = nullptr;
        switch (c.button) {
            case Button::hintOverConnecting: button = &overlays.connecting().hint().button(); break;
            case Button::hintOverCameraOff: button = &overlays.cameraOff().hint().button(); break;
            case Button::reconnect: button = &overlays.connecting().reconnect(); break;
        }
        ASSERT_TRUE(button->isVisible());
        clickAt(window, centreIn(window, *button));
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().showUSBGuide, c.guide);
        EXPECT_EQ(h.state().connection, c.route);
        EXPECT_EQ(h.cameras.builds().size() - builds, c.newBuilds);
    }
}

// A press on the glass between controls, then a small move: the glass
// keeps it, so the picture is not dragged and the gimbal does not turn.
TEST(WindowPressesTest, TheGlassOfTheBarAndTheRailTakesEveryPress) {
    MotionOff still;
    struct Case {
        const char* name;
        bool usb;
        bool rail;
        std::function<QPoint(const MainWindow&)> at;
    };
    const auto bar = [](const MainWindow& window) -> BottomBar& {
        return *qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    };
    const auto rail = [](const MainWindow& window) -> ToolRail& {
        return *qobject_cast<ToolRail*>(window.chrome().slotWidget(ChromeColumn::Slot::toolRail));
    };
    // Between the look pill and the connection pill, at the bar's middle height.
    const auto barGap = [bar](const MainWindow& window) {
        const BottomBar& b = bar(window);
        const QPoint lookRight = b.lookMenu().mapTo(&window, QPoint(b.lookMenu().width() + 4, 0));
        const QPoint cluster = b.connectionCluster().mapTo(&window, QPoint(0, 0));
        return QPoint((lookRight.x() + cluster.x()) / 2, b.mapTo(&window, b.rect().center()).y());
    };
    // Between the rail's centre and flip circles.
    const auto railGap = [rail](const MainWindow& window) {
        const ToolRail& r = rail(window);
        const QPoint centre = r.centreButton().mapTo(&window, QPoint(r.centreButton().width() / 2, 0));
        return QPoint(centre.x(), centre.y() + r.centreButton().height() + ToolRail::kSpacing / 2);
    };
    // The rail's rim above its first circle.
    const auto railRim = [rail](const MainWindow& window) {
        const ToolRail& r = rail(window);
        return r.mapTo(&window, QPoint(r.width() / 2, ToolRail::kInset / 2));
    };
    // The bar's rim at its left end, beside the guide pill.
    const auto barRim = [bar](const MainWindow& window) {
        const BottomBar& b = bar(window);
        return b.mapTo(&window, QPoint(BottomBar::kSideInset / 2 + 1, b.height() / 2));
    };
    const std::vector<Case> cases{
        {"the bar's glass between the look and the connection over Wi-Fi", false, false, barGap},
        {"the same on USB", true, false, barGap},
        {"the bar's rim", true, false, barRim},
        {"a gap of the rail over Wi-Fi", false, true, railGap},
        {"a gap of the rail on USB", true, true, railGap},
        {"the rail's rim", true, true, railRim},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(c.usb);
        MainWindow& window = showLive(h, c.rail);
        const QPoint at = c.at(window);
        QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, at);
        EXPECT_FALSE(window.input().isDragging());
        QTest::mouseMove(window.windowHandle(), at + QPoint(12, 8));
        QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, at + QPoint(12, 8));
        h.main.runUntilIdle();
        EXPECT_TRUE(h.velocity().isZero());
        EXPECT_TRUE(h.commands().empty()) << "no aim was sent";
    }
}

TEST(WindowPressesTest, TheBarsAndTheRailsControlsActThroughTheWindow) {
    MotionOff still;
    struct Case {
        const char* name;
        bool rail;
        std::function<const QWidget&(const MainWindow&)> control;
        std::function<bool(WindowHarness&)> happened;
    };
    const auto bar = [](const MainWindow& window) -> BottomBar& {
        return *qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    };
    const auto rail = [](const MainWindow& window) -> ToolRail& {
        return *qobject_cast<ToolRail*>(window.chrome().slotWidget(ChromeColumn::Slot::toolRail));
    };
    const auto flipped = [](WindowHarness& h) { return h.commands() == std::vector<std::string>{"flipGimbal"}; };
    const auto recentred = [](WindowHarness& h) { return h.camera()->gimbal().takeRecenterRequest(); };
    const std::vector<Case> cases{
        {"the bar's flip", false, [bar](const MainWindow& w) -> const QWidget& { return bar(w).flipButton(); },
         flipped},
        {"the bar's centre", false, [bar](const MainWindow& w) -> const QWidget& { return bar(w).centreButton(); },
         recentred},
        {"the rail's flip", true, [rail](const MainWindow& w) -> const QWidget& { return rail(w).flipButton(); },
         flipped},
        {"the rail's centre", true, [rail](const MainWindow& w) -> const QWidget& { return rail(w).centreButton(); },
         recentred},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        MainWindow& window = showLive(h, c.rail);
        clickAt(window, centreIn(window, c.control(window)));
        h.main.runUntilIdle();
        EXPECT_TRUE(c.happened(h));
        EXPECT_FALSE(window.input().isDragging());
    }
}

TEST(WindowPressesTest, TheCameraSettingsPillOpensItsSettingsThroughTheWindow) {
    MotionOff still;
    WindowHarness h(false);
    MainWindow& window = showLive(h, false);
    auto& bar = *qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    ASSERT_TRUE(bar.cameraSettingsButton().isVisible());
    clickAt(window, centreIn(window, bar.cameraSettingsButton()));
    EXPECT_TRUE(h.state().showCameraSettings);
    h.model->setShowCameraSettings(false);
}

// After each settings choice the pills of the connection cluster sit side by
// side inside the bar, whatever the summary's length. With
// LUMENHOLLOW_SHOT_DIR set, the bar's picture after each choice is saved
// there to be looked at.
TEST(WindowPressesTest, EverySettingsSummaryReLaysTheBar) {
    namespace hk = hollowkit;
    MotionOff still;
    WindowHarness h(false);
    MainWindow& window = showLive(h, false);
    auto& bar = *qobject_cast<BottomBar*>(window.chrome().slotWidget(ChromeColumn::Slot::bottomBar));
    const QWidget& route = bar.connectionMenu();
    const QWidget& settings = bar.cameraSettingsButton();
    const std::vector<std::pair<hk::CameraResolution, hk::CameraFrameRate>> choices{
        {hk::CameraResolution::p4K, hk::CameraFrameRate::fps30},
        {hk::CameraResolution::p2_7K, hk::CameraFrameRate::fps25},
        {hk::CameraResolution::vertical3K, hk::CameraFrameRate::fps50},
        {hk::CameraResolution::vertical2_7K, hk::CameraFrameRate::fps60},
        {hk::CameraResolution::p1080, hk::CameraFrameRate::fps24},
        {hk::CameraResolution::vertical1080, hk::CameraFrameRate::fps48},
    };
    for (const auto& [resolution, rate] : choices) {
        CameraSettingsState next = h.state().cameraSettings;
        next.resolution = resolution;
        next.frameRate = rate;
        h.model->applyCameraSetting(next, hk::CameraSetting::videoFormat(resolution, rate));
        h.main.runUntilIdle();
        QCoreApplication::processEvents();
        SCOPED_TRACE(bar.cameraSettingsButton().title().toStdString());
        const QRect routeRect(route.mapTo(&bar, QPoint(0, 0)), route.size());
        const QRect settingsRect(settings.mapTo(&bar, QPoint(0, 0)), settings.size());
        EXPECT_LE(routeRect.right() + BottomBar::kSpacing, settingsRect.left()) << "the pills do not overlap";
        EXPECT_EQ(settings.size(), settings.sizeHint()) << "the summary is not cut";
        EXPECT_EQ(bar.connectionCluster().size(), bar.connectionCluster().sizeHint());
        if (const QString folder = qEnvironmentVariable("LUMENHOLLOW_SHOT_DIR"); !folder.isEmpty()) {
            const QRect around = QRect(bar.mapTo(&window, QPoint(0, 0)), bar.size()).adjusted(-8, -8, 8, 8);
            const QString name = QString(bar.cameraSettingsButton().title()).replace(QLatin1Char(' '), QLatin1Char('-'));
            EXPECT_TRUE(window.grab(around).save(folder + QStringLiteral("/bottom-bar-") + name + ".png"));
        }
    }
}

// The rail fades in and out through the motion helper and glides when the
// notice moves it; with animations off it is at once where it goes.
TEST(WindowPressesTest, TheRailFadesAndGlides) {
    WindowHarness h;
    MainWindow& window = showLive(h, true);
    window.resize(1152, 812);
    QCoreApplication::processEvents();
    QWidget& rail = *window.chrome().slotWidget(ChromeColumn::Slot::toolRail);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rail.isHidden(); }, 5000)) << "the rail never went";

    window.resize(457, 812);
    QCoreApplication::processEvents();
    EXPECT_TRUE(rail.isVisible());
    ASSERT_NE(rail.graphicsEffect(), nullptr) << "fading in";
    EXPECT_LT(qobject_cast<QGraphicsOpacityEffect*>(rail.graphicsEffect())->opacity(), 1.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rail.graphicsEffect() == nullptr; }, 5000)) << "the fade never ended";
    EXPECT_TRUE(rail.isVisible());

    const QRect before = rail.geometry();
    h.model->postNotice("Face tracking on");
    QCoreApplication::processEvents();
    const QRect target = QRect(qRound(window.chrome().layoutResult().toolRail->x),
                               qRound(window.chrome().layoutResult().toolRail->y), rail.width(), rail.height());
    ASSERT_NE(target, before) << "the notice moves the rail";
    EXPECT_NE(rail.geometry(), target) << "gliding, not jumping";
    ASSERT_TRUE(QTest::qWaitFor([&] { return rail.geometry() == target; }, 5000)) << "the rail never reached its place";

    window.resize(1152, 812);
    QCoreApplication::processEvents();
    EXPECT_TRUE(rail.isVisible()) << "fading out";
    ASSERT_TRUE(QTest::qWaitFor([&] { return rail.isHidden(); }, 5000)) << "the rail never went";
    EXPECT_EQ(rail.graphicsEffect(), nullptr);

    {
        MotionOff still;
        window.resize(457, 812);
        QCoreApplication::processEvents();
        EXPECT_TRUE(rail.isVisible());
        EXPECT_EQ(rail.graphicsEffect(), nullptr);
        // The notice's time runs out: the rail goes back up at once.
        h.main.advance(std::chrono::seconds(4));
        h.main.runUntilIdle();
        QCoreApplication::processEvents();
        ASSERT_FALSE(h.state().notice);
        EXPECT_EQ(rail.geometry().topLeft(),
                  QPoint(qRound(window.chrome().layoutResult().toolRail->x),
                         qRound(window.chrome().layoutResult().toolRail->y)));
    }
}

}  // namespace
}  // namespace lumenhollow::test
