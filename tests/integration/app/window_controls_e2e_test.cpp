// The demonstration application's own window driven as a user drives it, on
// each route: the zoom pill's plus, the bottom bar's flip and recentre
// buttons, and a look and a guide chosen from the bottom bar's menus must
// reach the simulated camera (its zoom and gimbal) and the picture (the
// look's colours in the shown frames, the guide drawn over them).

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QTest>

#include <cmath>
#include <cstdlib>

#include "demo_run.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/guide_overlay.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/preview_overlays.h"
#include "lumenhollow/ui/window/video_surface.h"
#include "lumenhollow/ui/window/zoom_control.h"

namespace lumenhollow::test {
namespace {

// Triggers the row titled `title` of `menu`, filled as it is when it opens.
// How far the shown picture's colours stray from grey: the mean of the
// largest channel difference over a grid of points of the surface.
double colourfulness(VideoSurface& surface) {
    const QImage image = surface.grab().toImage();
    double sum = 0;
    int points = 0;
    for (int y = image.height() / 8; y < image.height(); y += image.height() / 8) {
        for (int x = image.width() / 16; x < image.width(); x += image.width() / 16) {
            const QColor c = image.pixelColor(x, y);
            sum += std::max({std::abs(c.red() - c.green()), std::abs(c.green() - c.blue()),
                             std::abs(c.red() - c.blue())});
            ++points;
        }
    }
    return points ? sum / points : 0;
}

void clickWidget(QWidget& widget, QPoint at = {}) {
    QTest::mouseClick(&widget, Qt::LeftButton, {}, at.isNull() ? widget.rect().center() : at);
}

// Drives every control once on the route the camera is on and checks its effect.
void driveEachControl(RunningDemo& demo, bool usb) {
    MainWindow& window = demo.window();
    auto* bar = window.findChild<BottomBar*>();
    auto* zoom = window.findChild<ZoomControl*>();
    ASSERT_TRUE(bar && zoom);
    const std::shared_ptr<hollowkit::SceneCamera> camera = demo.camera();
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->supportsPositioning(), usb) << "the camera of the other route";
    const hollowkit::LensLimits limits = camera->lens().limits();

    // Zoom: one step in, the simulator's lens and the model agree.
    const int zoomBefore = camera->pose().zoomPercent;
    ASSERT_TRUE(zoom->isVisible());
    clickWidget(*zoom, zoom->plusRect().center().toPoint());
    ASSERT_TRUE(demo.waitFor([&] { return camera->pose().zoomPercent > zoomBefore; }))
        << "zoom stayed at " << camera->pose().zoomPercent;
    EXPECT_EQ(demo.model().state().zoom, std::optional<int>(camera->pose().zoomPercent));

    // Flip, then recentre: each a real click on the bar's button; the gimbal
    // turns at its own pace, so each waits for the pose it ends in.
    const struct {
        const char* name;
        ui::IconButton& button;
        std::function<bool(const hollowkit::LensPose&)> arrived;
    } turns[] = {
        {"flip: half a turn, as far as the gimbal goes", bar->flipButton(),
         [&](const hollowkit::LensPose& p) { return std::abs(std::abs(p.panDegrees) - limits.panMaxDegrees) < 0.5; }},
        {"recentre: back to the middle", bar->centreButton(),
         [](const hollowkit::LensPose& p) { return std::abs(p.panDegrees) < 0.5 && std::abs(p.tiltDegrees) < 0.5; }},
    };
    for (const auto& turn : turns) {
        SCOPED_TRACE(turn.name);
        ASSERT_TRUE(turn.button.isVisible() && turn.button.isEnabled());
        ASSERT_FALSE(turn.arrived(camera->pose())) << "already there";
        clickWidget(turn.button);
        EXPECT_TRUE(demo.waitFor([&] { return turn.arrived(camera->pose()); }))
            << "pan " << camera->pose().panDegrees << ", tilt " << camera->pose().tiltDegrees;
    }

    // A look: the shown frames lose their colour under "Mono".
    const double colourBefore = colourfulness(window.surface());
    ASSERT_GT(colourBefore, 8) << "the scene should be colourful to start with";
    ASSERT_TRUE(RunningDemo::chooseRow(*bar->lookMenu().menu(), "Mono"));
    EXPECT_TRUE(demo.waitFor([&] { return colourfulness(window.surface()) < colourBefore / 8; }))
        << "from " << colourBefore << " to " << colourfulness(window.surface());
    EXPECT_EQ(bar->lookMenu().title(), "Mono");

    // A guide: drawn over the picture.
    GuideOverlay& guides = window.previewOverlays().guides();
    ASSERT_TRUE(RunningDemo::chooseRow(*bar->guideMenu().menu(), "Horizon"));
    EXPECT_TRUE(demo.waitFor([&] { return guides.isVisible() && guides.guides().contains(GuideKind::horizon); }));
    EXPECT_EQ(demo.model().state().guides, std::set<GuideKind>{GuideKind::horizon});
}

class WindowControlsEndToEndTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string why = run_.prepare({});
        if (!why.empty()) GTEST_SKIP() << why;
    }

    DemoRun run_;
};

TEST_F(WindowControlsEndToEndTest, EachControlReachesTheSimulatorOverUsb) {
    const int status = run_.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        driveEachControl(demo, true);
    });
    EXPECT_EQ(status, 0);
}

// The running application's main window is the one open now: closed, the
// window is gone and there is none; opened again, the new one, which takes
// a press of its own bottom bar's button through the program.
TEST_F(WindowControlsEndToEndTest, TheMainWindowOfferedIsTheOneOpenNow) {
    const int status = run_.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        QPointer<QWidget> first = &demo.window();
        ASSERT_TRUE(first->close());
        ASSERT_TRUE(demo.waitFor([&] { return first.isNull(); }, 10s)) << "the closed window stays";
        EXPECT_EQ(demo.app.mainWindow(), nullptr);
        ASSERT_FALSE(demo.model().isTerminating()) << "closing quit: nowhere to keep running";

        demo.model().showMainWindow();
        ASSERT_TRUE(demo.waitFor([&] { return demo.app.mainWindow() && demo.app.mainWindow()->isVisible(); }, 10s));
        MainWindow& window = demo.window();
        EXPECT_EQ(&window, demo.app.mainWindow());
        auto* zoom = window.findChild<ZoomControl*>();
        ASSERT_TRUE(zoom && zoom->isVisible());
        const std::shared_ptr<hollowkit::SceneCamera> camera = demo.camera();
        ASSERT_TRUE(camera);
        const int before = camera->pose().zoomPercent;
        clickWidget(*zoom, zoom->plusRect().center().toPoint());
        EXPECT_TRUE(demo.waitFor([&] { return camera->pose().zoomPercent > before; }))
            << "the reopened window's zoom plus did not reach the camera";
    });
    EXPECT_EQ(status, 0);
}

TEST_F(WindowControlsEndToEndTest, EachControlReachesTheSimulatorOverWiFi) {
    const int status = run_.run([](RunningDemo& demo) {
        ASSERT_TRUE(demo.waitForLive()) << demo.model().state().statusText;
        ASSERT_TRUE(demo.switchToWireless()) << demo.model().state().statusText;
        driveEachControl(demo, false);
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace lumenhollow::test
