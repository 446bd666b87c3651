#include "lumenhollow/ui/window/tool_rail.h"

#include <gtest/gtest.h>

#include <QLayout>

#include <algorithm>

#include "bars_harness.h"
#include "lumenhollow/ui/kit/usb_only.h"
#include "lumenhollow/ui/window/rail_menu.h"
#include "lumenhollow/ui/window/scenes_button.h"
#include "lumenhollow/ui/window/tool_actions.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

// The rail's visible items, top to bottom, as the circles a user sees.
std::vector<QRect> circles(ToolRail& rail) {
    std::vector<QRect> found;
    QLayout& column = *rail.layout();
    for (int i = 0; i < column.count(); ++i) {
        QWidget* item = column.itemAt(i)->widget();
        if (!item || item->isHidden()) continue;
        if (auto* scenes = qobject_cast<ScenesButton*>(item)) item = scenes->current();
        found.push_back(QRect(item->mapTo(&rail, QPoint(0, 0)), item->size()));
    }
    return found;
}

TEST(ToolRailTest, EightCirclesOf34InOneCapsuleOnEitherRoute) {
    for (bool usb : {true, false}) {
        SCOPED_TRACE(usb ? "USB" : "Wi-Fi");
        BarsHarness h(usb);
        ToolRail rail(*h.modelSignals, h.tools(), 34, nullptr);
        rail.show();
        const std::vector<QRect> items = circles(rail);
        ASSERT_EQ(items.size(), 8u);
        for (size_t i = 0; i < items.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(items[i].size(), QSize(34, 34));
            EXPECT_EQ(items[i].left(), 6) << "centred, 6 in from the edge";
            if (i > 0) {
                EXPECT_EQ(items[i].top() - items[i - 1].bottom() - 1, 6);
            }
        }
        EXPECT_EQ(items.front().top(), 6);
        EXPECT_EQ(rail.size(), QSize(46, 8 * 34 + 7 * 6 + 12));
        EXPECT_EQ(!rail.autoFrameMarker().isHidden(), !usb);
        EXPECT_EQ(rail.scenesButton().showsMarker(), !usb);
    }
}

TEST(ToolRailTest, MenusTintWithTheGuidesAndTheLookAndNameTheLook) {
    BarsHarness h;
    ToolRail rail(*h.modelSignals, h.tools(), 34, nullptr);
    struct Step {
        const char* name;
        std::function<void()> act;
        bool guidesActive;
        bool lookActive;
        QString lookHelp;
    };
    const std::vector<Step> steps{
        {"nothing on", [] {}, false, false, "Color look"},
        {"a look", [&] { ASSERT_TRUE(chooseRow(*rail.lookMenu().menu(), "Warm")); }, false, true, "Look: Warm"},
        {"a guide", [&] { ASSERT_TRUE(chooseRow(*rail.guideMenu().menu(), "Grid")); }, true, true, "Look: Warm"},
        {"the guide off again", [&] { ASSERT_TRUE(chooseRow(*rail.guideMenu().menu(), "Grid")); }, false, true,
         "Look: Warm"},
        {"no look", [&] { ASSERT_TRUE(chooseRow(*rail.lookMenu().menu(), "None")); }, false, false, "Color look"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act();
        EXPECT_EQ(rail.guideMenu().isActive(), step.guidesActive);
        EXPECT_EQ(rail.lookMenu().isActive(), step.lookActive);
        EXPECT_EQ(rail.lookMenu().toolTip(), step.lookHelp);
    }
    EXPECT_EQ(rail.guideMenu().toolTip(), "Guides");
}

TEST(ToolRailTest, FlipHoldsTheFollowerForThreeSecondsOnlyWhileTracking) {
    for (bool tracking : {true, false}) {
        SCOPED_TRACE(tracking ? "tracking" : "not tracking");
        BarsHarness h;
        ToolRail rail(*h.modelSignals, h.tools(), 34, nullptr);
        h.emit(CameraEvent::stats(picture(1920, 1080)));
        const auto positionReads = [&] {
            return std::ranges::count(h.camera()->commands(), std::string("currentPosition"));
        };
        if (tracking) {
            h.model->startFaceTracking();
            ASSERT_TRUE(h.state().faceTracking);
        }
        h.main.advanceSeconds(0.5);
        rail.flipButton().click();
        EXPECT_EQ(h.camera()->commands().back(), "flipGimbal");
        const auto atFlip = positionReads();
        h.main.advanceSeconds(2.95);
        EXPECT_EQ(positionReads(), atFlip) << "held, or not following at all";
        h.main.advanceSeconds(0.1);
        EXPECT_EQ(positionReads() > atFlip, tracking) << "following again after 3 s";
    }
}

TEST(ToolRailTest, EveryButtonReachesItsAction) {
    BarsHarness h;
    ToolRail rail(*h.modelSignals, h.tools(), 34, nullptr);
    rail.centreButton().click();
    EXPECT_TRUE(h.camera()->gimbal().takeRecenterRequest());
    rail.autoFrameButton().click();
    EXPECT_TRUE(h.model->isAutoFramePending());
    rail.outputFolderButton().click();
    ASSERT_FALSE(h.desktop.calls().empty());
    EXPECT_EQ(h.desktop.calls().back(), "open " + h.outputFolder.string());
}

TEST(ToolRailTest, OverWiFiTheMarkersSwitchWhenTheCameraIsOnTheCable) {
    struct Case {
        const char* name;
        bool cameraOnUSB;
        ConnectionMode route;
        bool guide;
    };
    const std::vector<Case> cases{
        {"nothing on USB: the guide", false, ConnectionMode::wireless, true},
        {"the camera on USB: the switch", true, ConnectionMode::usb, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BarsHarness h(false);
        ToolRail rail(*h.modelSignals, h.tools(), 34, nullptr);
        rail.show();  // a marker off the screen opens nothing
        h.cameras.setPocketConnected(c.cameraOnUSB);
        ui::UsbOnlyIconButton& marker = rail.autoFrameMarker();
        marker.click();
        ASSERT_TRUE(marker.isPresented());
        const auto buttons = marker.popover()->findChildren<QAbstractButton*>();
        ASSERT_EQ(buttons.size(), 1);
        buttons.front()->click();
        h.main.runUntilIdle();
        EXPECT_EQ(h.state().connection, c.route);
        EXPECT_EQ(h.state().showUSBGuide, c.guide);
        h.emit(CameraEvent::status("Connecting"));
        EXPECT_EQ(rail.autoFrameMarker().isHidden(), c.route == ConnectionMode::usb)
            << "the item changes kind with the camera";
    }
}

TEST(ToolActionsTest, FullScreenTogglesTheGivenWindowAndNothingWithout) {
    QWidget window;
    window.show();
    toggleFullScreen(&window);
    EXPECT_TRUE(window.isFullScreen());
    toggleFullScreen(&window);
    EXPECT_FALSE(window.isFullScreen());
    toggleFullScreen(nullptr);
}

}  // namespace
}  // namespace lumenhollow::test
