#include "lumenhollow/ui/shell/tray_icon.h"

#include <QMenu>

#include <gtest/gtest.h>

#include "../../model/model_harness.h"
#include "../level_meter.h"
#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;

struct TrayHarness : ModelHarness {
    std::unique_ptr<ModelSignals> modelSignals;
    int notchFills = 0;
    std::unique_ptr<TrayIcon> tray;

    explicit TrayHarness(bool usb) {
        cameras.setPocketConnected(usb);
        FakeCamera::Options options;
        options.position = hollowkit::CameraPosition{20, -4, 100};
        cameras.setOptions(usb ? ConnectionMode::usb : ConnectionMode::wireless, options);
        createAndStart();
        modelSignals = std::make_unique<ModelSignals>(model);
        // No tray on the test's platform: the menu is built all the same.
        tray = std::make_unique<TrayIcon>(*modelSignals, false, [this](QMenu&) { ++notchFills; });
    }
    ~TrayHarness() {
        tray.reset();
        modelSignals.reset();
    }
    TrayMenu& menu() const { return tray->menu(); }
};

TEST(TrayMenuTest, ConditionalRowsAppearWithWhatTheyNeed) {
    TrayHarness h(true);
    TrayMenu& menu = h.menu();
    EXPECT_FALSE(h.tray->hasTray());
    EXPECT_FALSE(menu.batteryLine().isVisible());
    EXPECT_FALSE(menu.scenes().menuAction()->isVisible());
    EXPECT_FALSE(menu.zoomIn().isVisible());
    EXPECT_EQ(h.tray->symbol(), "video");

    h.emit(CameraEvent::stats(picture(1920, 1080)));
    h.model->saveCurrentPositionAsScene();
    h.main.runUntilIdle();
    EXPECT_EQ(menu.statusLine().text(), QStringLiteral("Osmo Pocket · USB"));
    EXPECT_EQ(h.tray->symbol(), "video.fill");
    ASSERT_TRUE(menu.scenes().menuAction()->isVisible());
    ASSERT_EQ(menu.scenes().actions().size(), 1);
    menu.scenes().actions().front()->trigger();
    EXPECT_EQ(h.state().notice, h.state().scenes.front().name);
}

TEST(TrayMenuTest, HearsNoLevelMeterButABatteryChange) {
    TrayHarness h(true);
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    EXPECT_EQ(deliveriesDuringLevelMeter(h, *h.modelSignals), 0u);
    h.emit(CameraEvent::battery(hollowkit::BatteryStatus{64, false}));
    EXPECT_TRUE(h.menu().batteryLine().isVisible());
    EXPECT_TRUE(h.menu().batteryLine().text().contains(QStringLiteral("64")));
}

TEST(TrayMenuTest, RowsReachTheirModelOperations) {
    TrayHarness h(true);
    h.emit(CameraEvent::stats(picture(1920, 1080)));
    TrayMenu& menu = h.menu();
    menu.centerGimbal().trigger();
    EXPECT_TRUE(h.camera()->gimbal().takeRecenterRequest());

    menu.showWindow().trigger();
    EXPECT_GE(h.shell.count("activate"), 1u);

    menu.notch().menuAction()->setVisible(true);
    Q_EMIT menu.notch().aboutToShow();
    EXPECT_EQ(h.notchFills, 1);

    menu.quit().trigger();
    h.main.runUntilIdle();
    EXPECT_EQ(h.shell.count("requestTermination"), 1u);
}

}  // namespace
}  // namespace lumenhollow::test
