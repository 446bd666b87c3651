#include "lumenhollow/ui/window/preview_overlays.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "lumenhollow/ui/kit/pill_button.h"
#include "lumenhollow/ui/kit/spinner.h"
#include "lumenhollow/ui/window/camera_off_overlay.h"
#include "lumenhollow/ui/window/connecting_overlay.h"
#include "lumenhollow/ui/window/countdown_overlay.h"
#include "lumenhollow/ui/window/face_box_overlay.h"
#include "lumenhollow/ui/window/guide_overlay.h"
#include "lumenhollow/ui/window/usb_hint.h"
#include "ui_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

enum class Panel { none, cameraOff, connecting };

Panel shownPanel(const MainWindow& window) {
    const PreviewOverlays& overlays = window.previewOverlays();
    const bool off = overlays.cameraOff().isVisibleTo(&window);
    const bool connecting = overlays.connecting().isVisibleTo(&window);
    EXPECT_FALSE(off && connecting) << "the two panels exclude each other";
    return off ? Panel::cameraOff : connecting ? Panel::connecting : Panel::none;
}

TEST(PreviewOverlaysTest, ThePanelAndItsPartsFollowTheModel) {
    struct Case {
        const char* name;
        bool usb;
        std::function<void(WindowHarness&)> arrange;
        Panel panel;
        bool warning;    // the triangle instead of the spinner
        bool reconnect;  // the "Reconnect" pill
        bool hint;       // the USB hint in the panel shown
    };
    const std::vector<Case> cases{
        {"starting on USB", true, [](WindowHarness&) {}, Panel::connecting, false, false, false},
        {"starting on Wi-Fi", false, [](WindowHarness&) {}, Panel::connecting, false, false, true},
        {"failed on Wi-Fi", false, [](WindowHarness& h) { h.emit(CameraEvent::failed("No camera")); },
         Panel::connecting, true, true, true},
        {"failed on USB", true, [](WindowHarness& h) { h.emit(CameraEvent::failed("No camera")); },
         Panel::connecting, true, true, false},
        {"statistics without a picture", true,
         [](WindowHarness& h) { h.emit(CameraEvent::stats(picture(1920, 1080, false))); }, Panel::connecting, false,
         false, false},
        {"a failure, then a picture", false,
         [](WindowHarness& h) {
             h.emit(CameraEvent::failed("No camera"));
             h.emit(CameraEvent::stats(picture(1920, 1080)));
         },
         Panel::none, false, false, false},
        {"the camera off on Wi-Fi", false, [](WindowHarness& h) { h.emit(CameraEvent::cameraOff()); },
         Panel::cameraOff, false, false, true},
        {"the camera off on USB: no Wi-Fi warning", true, [](WindowHarness& h) { h.emit(CameraEvent::cameraOff()); },
         Panel::cameraOff, false, false, false},
        {"live", true, [](WindowHarness& h) { h.emit(CameraEvent::stats(picture(1920, 1080))); }, Panel::none,
         false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(c.usb);
        h.window = std::make_unique<MainWindow>(*h.modelSignals, *h.feed);
        c.arrange(h);
        const MainWindow& window = *h.window;
        ASSERT_EQ(shownPanel(window), c.panel);
        const PreviewOverlays& overlays = window.previewOverlays();
        if (c.panel == Panel::connecting) {
            const ConnectingOverlay& panel = overlays.connecting();
            EXPECT_EQ(panel.warning().isVisibleTo(&panel), c.warning);
            EXPECT_EQ(panel.spinner().isVisibleTo(&panel), !c.warning);
            EXPECT_EQ(panel.reconnect().isVisibleTo(&panel), c.reconnect);
            EXPECT_EQ(panel.hint().isVisibleTo(&panel), c.hint);
            EXPECT_EQ(panel.statusLine().text().toStdString(), h.state().statusText);
        }
        if (c.panel == Panel::cameraOff) {
            const CameraOffOverlay& panel = overlays.cameraOff();
            EXPECT_EQ(panel.hint().isVisibleTo(&panel), c.hint);
        }
    }
}

TEST(PreviewOverlaysTest, TheStatusLineIsShownAsItIs) {
    WindowHarness h(false);
    h.window = std::make_unique<MainWindow>(*h.modelSignals, *h.feed);
    for (const char* text : {"Battery 100% %d %s", "<b>not bold</b>", "%1 of %2"}) {
        h.emit(CameraEvent::status(text));
        EXPECT_EQ(h.window->previewOverlays().connecting().statusLine().text(), QString::fromUtf8(text));
        EXPECT_EQ(h.window->previewOverlays().connecting().statusLine().textFormat(), Qt::PlainText);
    }
}

TEST(PreviewOverlaysTest, ThePanelsButtonsReachTheModel) {
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
        {"use USB without the camera on USB opens the guide", false, false, Button::hintOverConnecting, true,
         ConnectionMode::wireless, 0},
        {"use USB with the camera on USB switches", false, true, Button::hintOverConnecting, false,
         ConnectionMode::usb, 1},
        {"the camera-off panel's hint does the same", true, true, Button::hintOverCameraOff, false,
         ConnectionMode::usb, 1},
        {"reconnect stays wireless without the cable", false, false, Button::reconnect, false,
         ConnectionMode::wireless, 1},
        {"reconnect takes the cable when it is there", false, true, Button::reconnect, false, ConnectionMode::usb,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h(false);
        h.emit(c.cameraOff ? CameraEvent::cameraOff() : CameraEvent::failed("No camera"));
        MainWindow& window = h.show();
        h.cameras.setPocketConnected(c.onUSBNow);
        const size_t builds = h.cameras.builds().size();
        const PreviewOverlays& overlays = window.previewOverlays();
        QAbstractButton* button = nullptr;
        switch (c.button) {
            case Button::hintOverConnecting: button = &overlays.connecting().hint().button(); break;
            case Button::hintOverCameraOff: button = &overlays.cameraOff().hint().button(); break;
            case Button::reconnect: button = &overlays.connecting().reconnect(); break;
        }
        ASSERT_TRUE(button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().showUSBGuide, c.guide);
        EXPECT_EQ(h.state().connection, c.route);
        EXPECT_EQ(h.cameras.builds().size() - builds, c.newBuilds);
    }
}

// Hands every window move to a window manager that answers.
class CountingWindowOps final : public WindowOps {
public:
    bool startSystemMove() override {
        ++moves;
        return true;
    }
    QPoint windowPosition() const override { return {}; }
    void moveWindowTo(QPoint) override {}
    void toggleMaximized() override {}
    int moves = 0;
};

TEST(PreviewOverlaysTest, PressesPassThroughDrawingsButNotThroughPanels) {
    using enum GuideKind;
    struct Case {
        const char* name;
        bool live;
        bool cameraOff;
        QPoint at;  // in the window
        bool drags;
    };
    // 1152 × 648 with a 16:9 picture: the countdown sits on the centre,
    // a third of the width is x 384, the face box's corner at (288, 162).
    const std::vector<Case> cases{
        {"on the countdown", true, false, {576, 324}, true},
        {"on a third of the grid", true, false, {384, 500}, true},
        {"on the face box's corner", true, false, {288, 162}, true},
        {"over the connecting panel", false, false, {576, 500}, false},
        {"over the connecting panel's centre", false, false, {576, 324}, false},
        {"over the camera-off panel", false, true, {200, 200}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowHarness h;
        if (c.live) {
            h.emit(CameraEvent::stats(picture(1920, 1080)));
            h.model->setGuides({grid, horizon, vertical});
            h.model->setCountdownSeconds(3);
            h.model->toggleRecording();
            h.main.runUntilIdle();
        }
        if (c.cameraOff) h.emit(CameraEvent::cameraOff());
        MainWindow& window = h.show();
        window.resize(1152, 648);
        QCoreApplication::processEvents();
        if (c.live) {
            ASSERT_TRUE(window.previewOverlays().countdown().isVisible());
            FaceBoxOverlay& face = window.previewOverlays().faceBox();
            face.setFace(hollowkit::NormalizedRect{0.25, 0.25, 0.5, 0.5});
            face.show();
        }
        QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, c.at);
        EXPECT_EQ(window.input().isDragging(), c.drags);
        QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, c.at);
        EXPECT_FALSE(window.input().isDragging());
    }
}

TEST(PreviewOverlaysTest, TheChromeStaysUsableOverAPanel) {
    WindowHarness h;
    MainWindow& window = h.show();
    ASSERT_EQ(shownPanel(window), Panel::connecting);
    auto ops = std::make_unique<CountingWindowOps>();
    CountingWindowOps& counting = *ops;
    window.setWindowOps(std::move(ops));
    const QPoint onStrip = window.dragArea().mapTo(&window, QPoint(600, 10));
    const QPoint dragged = onStrip + QPoint(30, 0);
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, onStrip);
    QTest::mouseMove(window.windowHandle(), dragged);
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, dragged);
    EXPECT_EQ(counting.moves, 1) << "the drag strip lies above the panel";
    EXPECT_FALSE(window.input().isDragging());
}

TEST(PreviewOverlaysTest, DrawingsCoverThePictureAndPanelsThePreview) {
    struct Case {
        int frameWidth;
        int frameHeight;
        QRect picture;  // in the surface, 1152 × 648
    };
    const std::vector<Case> cases{
        {1920, 1080, {0, 0, 1152, 648}},
        {1440, 1080, {144, 0, 864, 648}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frameWidth);
        WindowHarness h;
        h.emit(CameraEvent::stats(picture(c.frameWidth, c.frameHeight)));
        MainWindow& window = h.show();
        window.resize(1152, 648);
        QCoreApplication::processEvents();
        QWidget& surface = window.surface();
        const PreviewOverlays& overlays = window.previewOverlays();
        for (const QWidget* drawing : std::initializer_list<const QWidget*>{&overlays.guides(), &overlays.faceBox()}) {
            EXPECT_EQ(QRect(drawing->mapTo(&surface, QPoint(0, 0)), drawing->size()), c.picture);
        }
        EXPECT_EQ(overlays.connecting().geometry(), surface.rect());
        EXPECT_EQ(overlays.cameraOff().geometry(), surface.rect());
        EXPECT_EQ(overlays.countdown().geometry().center(), surface.rect().center());
        // Back to front: picture layer, panels, countdown, chrome.
        const QObjectList order = surface.children();
        EXPECT_LT(order.indexOf(&window.overlayLayer()), order.indexOf(&overlays.cameraOff()));
        EXPECT_LT(order.indexOf(&overlays.connecting()), order.indexOf(&overlays.countdown()));
        EXPECT_LT(order.indexOf(&overlays.countdown()), order.indexOf(&window.chromeLayer()));
    }
}

}  // namespace
}  // namespace lumenhollow::test
