#include "lumenhollow/ui/window/capture_controls.h"

#include <QGraphicsOpacityEffect>
#include <QPushButton>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "control_harness.h"
#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/record_pill.h"
#include "lumenhollow/ui/kit/usb_only.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

struct CaptureHarness : ControlHarness {
    CaptureControls* controls = nullptr;

    explicit CaptureHarness(bool usb) : ControlHarness(usb) {
        controls = new CaptureControls(*modelSignals, host.get());
        controls->move(20, 100);
        showHost();
    }

    static double opacityOf(const QWidget& widget) {
        const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(widget.graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    }
    void click(QWidget& button) { QTest::mouseClick(&button, Qt::LeftButton, {}, button.rect().center()); }
};

TEST(CaptureControlsTest, PictureGatingReachesTheButtonsAndTheirClicksTheModel) {
    struct Case {
        const char* name;
        bool usb;
        std::optional<bool> picture;  // statistics with or without one; none: no statistics
        bool photoEnabled;
        double opacity;
        bool toggleShown;
    };
    const std::vector<Case> cases{
        {"USB before statistics", true, std::nullopt, false, 0.45, true},
        {"USB without a picture", true, false, false, 0.45, true},
        {"USB with a picture", true, true, true, 1.0, true},
        {"Wi-Fi without a picture", false, false, false, 0.45, false},
        {"Wi-Fi with a picture", false, true, true, 1.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureHarness h(c.usb);
        if (c.picture) h.emit(CameraEvent::stats(picture(1920, 1080, *c.picture)));
        ui::IconButton& photo = h.controls->photoButton();
        EXPECT_EQ(photo.isEnabled(), c.photoEnabled);
        EXPECT_DOUBLE_EQ(CaptureHarness::opacityOf(photo), c.opacity);
        EXPECT_EQ(h.controls->trackingButton().isVisible(), c.toggleShown);
        EXPECT_EQ(h.controls->usbOnlyTrackingButton().isVisible(), !c.toggleShown);
        if (c.toggleShown) {
            EXPECT_EQ(h.controls->trackingButton().isEnabled(), c.photoEnabled);
            EXPECT_DOUBLE_EQ(CaptureHarness::opacityOf(h.controls->trackingButton()), c.opacity);
        } else {
            EXPECT_TRUE(h.controls->usbOnlyTrackingButton().isEnabled()) << "the marker never waits";
            EXPECT_DOUBLE_EQ(CaptureHarness::opacityOf(h.controls->usbOnlyTrackingButton()), 1.0);
        }
        // A photo is asked for only with a picture; no frame comes here, so
        // the request stays waiting for one, however long.
        ASSERT_FALSE(h.model->photoWaitsForFrame());
        h.click(photo);
        h.main.advanceSeconds(2.5);
        EXPECT_EQ(h.model->photoWaitsForFrame(), c.photoEnabled);
        EXPECT_FALSE(h.state().notice) << "a waiting photo says nothing";
    }
}

TEST(CaptureControlsTest, TheToggleStartsAndStopsTrackingAndTheRecordPillRecords) {
    CaptureHarness h(true);
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    ui::IconButton& toggle = h.controls->trackingButton();
    EXPECT_EQ(toggle.toolTip(), QStringLiteral("Face tracking (Ctrl+T)"));
    EXPECT_EQ(h.controls->photoButton().toolTip(), QStringLiteral("Take a photo (Ctrl+S)"));
    h.click(toggle);
    EXPECT_TRUE(h.state().faceTracking);
    EXPECT_TRUE(toggle.isActive());
    h.click(toggle);
    EXPECT_FALSE(h.state().faceTracking);
    EXPECT_FALSE(toggle.isActive());

    // The pill's click is the Record command: here it counts down first.
    h.model->setCountdownSeconds(3);
    h.click(h.controls->recordPill());
    EXPECT_EQ(h.state().countdownRemaining, 3);
    EXPECT_EQ(h.controls->recordPill().state().text, "Starts in 3");
    h.click(h.controls->recordPill());
    EXPECT_EQ(h.state().countdownRemaining, std::nullopt) << "a second click cancels it";
}

TEST(CaptureControlsTest, TheUsbOnlyMarkersSwitchConnectsOrOpensTheGuide) {
    struct Case {
        const char* name;
        bool pluggedIn;
        ConnectionMode connection;
        bool guide;
    };
    const std::vector<Case> cases{
        {"plugged in", true, ConnectionMode::usb, false},
        {"not plugged in", false, ConnectionMode::wireless, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureHarness h(false);
        h.cameras.setPocketConnected(c.pluggedIn);
        ui::UsbOnlyIconButton& marker = h.controls->usbOnlyTrackingButton();
        h.click(marker);
        ASSERT_TRUE(marker.popover());
        auto* switchButton = marker.popover()->findChild<QPushButton*>(QStringLiteral("switchToUsb"));
        ASSERT_TRUE(switchButton);
        switchButton->click();
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().connection, c.connection);
        EXPECT_EQ(h.state().showUSBGuide, c.guide);
        // The new camera's first statistics bring the real toggle.
        h.emit(CameraEvent::stats(picture(1920, 1080)));
        EXPECT_EQ(h.controls->trackingButton().isVisible(), c.pluggedIn);
        EXPECT_EQ(h.controls->usbOnlyTrackingButton().isVisible(), !c.pluggedIn);
    }
}

}  // namespace
}  // namespace lumenhollow::test
