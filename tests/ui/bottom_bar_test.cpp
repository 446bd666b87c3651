#include "lumenhollow/ui/window/bottom_bar.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "bars_harness.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "lumenhollow/ui/window/camera_settings_button.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

bool shown(const QWidget& widget) { return !widget.isHidden(); }

size_t countOf(const std::vector<std::string>& commands, const std::string& command) {
    return static_cast<size_t>(std::ranges::count(commands, command));
}

TEST(BottomBarTest, ConnectionRowsSwitchOrAskForTheGuideAndKeepTheRoute) {
    struct Case {
        const char* name;
        bool startOnUSB;
        bool cameraOnUSB;  // when the row is chosen
        const char* row;
        ConnectionMode route;
        bool guide;
        size_t newCameras;
    };
    const std::vector<Case> cases{
        {"USB with no camera on the cable: the guide, the route stays", false, false, "USB", ConnectionMode::wireless,
         true, 0},
        {"USB with the camera on the cable: the switch", false, true, "USB", ConnectionMode::usb, false, 1},
        {"the current route again: no reconnect", false, true, "Wireless", ConnectionMode::wireless, false, 0},
        {"Wireless from USB", true, true, "Wireless", ConnectionMode::wireless, false, 1},
        {"USB while on USB: no reconnect", true, true, "USB", ConnectionMode::usb, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BarsHarness h(c.startOnUSB);
        BottomBar bar(*h.modelSignals, h.tools(), nullptr);
        h.cameras.setPocketConnected(c.cameraOnUSB);
        const size_t builds = h.cameras.builds().size();
        ASSERT_TRUE(chooseRow(*bar.connectionMenu().menu(), c.row));
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().connection, c.route);
        EXPECT_EQ(h.state().showUSBGuide, c.guide);
        EXPECT_EQ(h.cameras.builds().size() - builds, c.newCameras);
    }
}

TEST(BottomBarTest, AFormatChosenWhileRecordingOnlySaysWhy) {
    BarsHarness h;
    BottomBar bar(*h.modelSignals, h.tools(), nullptr);
    QMenu& formats = *bar.formatMenu().menu();
    const std::string vertical = hollowkit::VideoFormatOption{1080, 1920, 30}.description();
    const auto selections = [&] { return countOf(h.camera()->commands(), "selectFormat 1080x1920@30"); };

    h.emit(CameraEvent::cardRecording({true, false, 0}));
    ASSERT_TRUE(h.model->isRecording());
    ASSERT_TRUE(bar.formatMenu().isEnabled()) << "the menu stays open to choices while recording";
    ASSERT_TRUE(chooseRow(formats, QString::fromStdString(vertical)));
    EXPECT_EQ(h.state().notice, "Stop recording before changing the format");
    EXPECT_EQ(selections(), 0u);
    const hollowkit::VideoFormatOption landscape{1920, 1080, 30};
    EXPECT_EQ(h.state().activeFormat, landscape);

    h.emit(CameraEvent::cardRecording({false, false, std::nullopt}));
    ASSERT_FALSE(h.model->isRecording());
    h.model->dismissSheets();
    ASSERT_TRUE(chooseRow(formats, QString::fromStdString(vertical)));
    EXPECT_EQ(selections(), 1u);
}

TEST(BottomBarTest, TheControlsFollowTheCameraTheWidthAndTheRail) {
    BarsHarness h;
    BottomBar bar(*h.modelSignals, h.tools(), nullptr);
    bar.resize(1128, BottomBar::kHeight);
    bar.show();
    struct Step {
        const char* name;
        std::function<void()> act;
        std::string connectionTitle;
        std::string guideTitle;
        bool formatMenu;
        bool autoFrameMarker;
        bool tools;
    };
    const std::vector<Step> steps{
        {"USB, wide", [] {}, "Osmo Pocket \u00B7 USB", "Guide", true, false, true},
        {"compact", [&] { bar.setCompact(true); }, "USB", "", true, false, true},
        {"rail", [&] { bar.setRailMode(true); }, "USB", "", true, false, false},
        {"over Wi-Fi the settings button and the marker", [&] {
             h.model->selectConnection(ConnectionMode::wireless);
             h.main.runUntilIdle();
             h.emit(CameraEvent::status("Connecting"));
         },
         "Wireless", "", false, true, false},
        {"wide again", [&] {
             bar.setRailMode(false);
             bar.setCompact(false);
         },
         "Osmo Pocket \u00B7 Wireless", "Guide", false, true, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        EXPECT_EQ(bar.connectionMenu().title().toStdString(), step.connectionTitle);
        EXPECT_EQ(bar.guideMenu().title().toStdString(), step.guideTitle);
        EXPECT_EQ(shown(bar.formatMenu()), step.formatMenu);
        EXPECT_EQ(shown(bar.cameraSettingsButton()), !step.formatMenu);
        EXPECT_EQ(shown(bar.autoFrameMarker()), step.autoFrameMarker);
        EXPECT_EQ(shown(bar.autoFrameButton()), !step.autoFrameMarker);
        EXPECT_EQ(shown(bar.toolCluster()), step.tools);
        // The connection cluster stands in the bar's middle, whatever it holds.
        const QRect cluster = bar.connectionCluster().geometry();
        EXPECT_NEAR(cluster.center().x(), bar.rect().center().x(), 1);
        EXPECT_NEAR(cluster.center().y(), bar.rect().center().y(), 1);
    }
}

// A long look name in the bar of the narrowest wide window (640 less the
// paddings): the look pill is cut short so that the cluster lies over no
// circle; in a wide bar the name is whole.
TEST(BottomBarTest, ALongLookNameLeavesEveryToolClearInANarrowBar) {
    BarsHarness h;
    const std::string name = "Teal and Orange Cinematic Grade for Evening Interviews";
    h.importLooks({name});
    BottomBar bar(*h.modelSignals, h.tools(), nullptr);
    if (h.selectedLookName() != name) {
        ASSERT_TRUE(chooseRow(*bar.lookMenu().menu(), QString::fromStdString(name)));
    }
    for (const int width : {616, 1128}) {
        SCOPED_TRACE(width);
        bar.setCompact(width < 1000);
        bar.resize(width, BottomBar::kHeight);
        bar.show();
        QCoreApplication::processEvents();
        const QRect look = bar.lookMenu().geometry();
        const QRect cluster = bar.connectionCluster().geometry();
        const QRect fullScreen = bar.fullScreenButton().geometry();
        EXPECT_LE(look.right() + 1 + BottomBar::kSpacing, cluster.left());
        EXPECT_LE(cluster.right() + 1 + BottomBar::kSpacing, fullScreen.left());
        EXPECT_EQ(bar.lookMenu().title().toStdString(), name);
        EXPECT_EQ(bar.lookMenu().shownTitle() == bar.lookMenu().title(), width > 1000);
    }
}

TEST(BottomBarTest, NoFormatsDisableTheFormatMenu) {
    BarsHarness h;
    BottomBar bar(*h.modelSignals, h.tools(), nullptr);
    EXPECT_TRUE(bar.formatMenu().isEnabled());
    const hollowkit::VideoFormatOption landscape{1920, 1080, 30};
    EXPECT_EQ(bar.formatMenu().title().toStdString(), landscape.description());
    h.camera()->setDevices({}, std::nullopt, {}, std::nullopt);
    h.emit(CameraEvent::devicesChanged());
    EXPECT_FALSE(bar.formatMenu().isEnabled());
    EXPECT_EQ(bar.formatMenu().title(), "Format");
}

TEST(BottomBarTest, ToolButtonsReachTheCameraAndTheLookShowsItsName) {
    BarsHarness h;
    BottomBar bar(*h.modelSignals, h.tools(), nullptr);
    bar.centreButton().click();
    EXPECT_TRUE(h.camera()->gimbal().takeRecenterRequest());
    bar.flipButton().click();
    EXPECT_EQ(countOf(h.camera()->commands(), "flipGimbal"), 1u);
    bar.autoFrameButton().click();
    EXPECT_TRUE(h.model->isAutoFramePending());
    // No window has the keyboard here: full screen does nothing and nothing breaks.
    bar.fullScreenButton().click();

    EXPECT_EQ(bar.lookMenu().title(), "LUT");
    ASSERT_TRUE(chooseRow(*bar.lookMenu().menu(), "Faded Film"));
    EXPECT_EQ(bar.lookMenu().title(), "Faded Film");
    EXPECT_EQ(bar.lookMenu().toolTip(), "Color look applied to the preview, photos and Mac recordings");
    ASSERT_TRUE(chooseRow(*bar.guideMenu().menu(), "Horizon"));
    EXPECT_EQ(h.state().guides, std::set<GuideKind>{GuideKind::horizon});
}

TEST(BottomBarTest, OverWiFiTheAutoFrameMarkerAsksForTheGuide) {
    BarsHarness h(false);
    BottomBar bar(*h.modelSignals, h.tools(), nullptr);
    bar.show();  // a marker off the screen opens nothing
    ui::UsbOnlyIconButton& marker = bar.autoFrameMarker();
    ASSERT_TRUE(shown(marker));
    EXPECT_EQ(bar.cameraSettingsButton().title(), "Camera");
    marker.click();
    ASSERT_TRUE(marker.isPresented());
    const auto buttons = marker.popover()->findChildren<QAbstractButton*>();
    ASSERT_EQ(buttons.size(), 1);
    buttons.front()->click();
    EXPECT_TRUE(h.state().showUSBGuide);
    EXPECT_EQ(h.state().connection, ConnectionMode::wireless);
    EXPECT_FALSE(h.model->isAutoFramePending());
}

}  // namespace
}  // namespace lumenhollow::test
