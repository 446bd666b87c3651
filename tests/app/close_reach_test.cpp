#include "lumenhollow/app/close_reach.h"

#include <QMenu>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "lumenhollow/app/app_lifecycle.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_island_platform.h"
#include "lumenhollow/testing/fake_model_services.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/shell/tray_icon.h"

namespace lumenhollow {
namespace {

// The model, the real island on faked screens and the tray icon's menu (no
// tray on the test's platform), with the lifecycle asking close_reach, as
// the application wires them.
struct CloseRig : FakeModelServices {
    ui::test::FakeScreenSource screens;
    ui::test::FakePointerSource pointer;
    ui::test::FakePanelInput input;
    std::shared_ptr<CameraModel> model = CameraModel::create(services(
        std::make_shared<CountingVideoSink>(), std::make_shared<CountingVideoSink>(), "/nonexistent/out", {}));
    std::unique_ptr<ModelSignals> modelSignals = std::make_unique<ModelSignals>(model);
    std::unique_ptr<TrayIcon> tray = std::make_unique<TrayIcon>(*modelSignals, false, [](QMenu&) {});
    std::unique_ptr<ui::NotchPanelController> island;
    std::unique_ptr<AppLifecycle> lifecycle;

    explicit CloseRig(bool withIsland, std::vector<ui::ScreenInfo> startScreens) {
        screens.set(std::move(startScreens));
        if (withIsland) {
            island = std::make_unique<ui::NotchPanelController>(
                *modelSignals, main,
                ui::NotchPanelController::Platform{screens, pointer, ui::IslandWindowMode::translucent, &input});
        }
        AppLifecycle::Hooks hooks;
        hooks.islandAvailable = [this] { return islandOnScreen(island.get()); };
        hooks.trayAvailable = [this] { return trayOnScreen(tray.get()); };
        lifecycle = std::make_unique<AppLifecycle>(main, hooks);
        lifecycle->setModel(model);
    }
    ~CloseRig() {
        island.reset();
        tray.reset();
        modelSignals.reset();
    }
};

// "Keep Running in the Notch" keeps running only when the island is on the
// screen when the window closes, whatever existed at start.
TEST(CloseReachTest, TheIslandKeepsTheApplicationOnlyWhileItIsOnTheScreen) {
    enum class Change { none, screensGone, screenBack, islandOff };
    const struct {
        const char* name;
        bool island;
        bool screenAtStart;
        Change change;
        AfterMainWindowClosed after;
    } cases[] = {
        {"the island on its screen", true, true, Change::none, AfterMainWindowClosed::keepRunningInIsland},
        {"the island made but with no screen to show on", true, false, Change::none, AfterMainWindowClosed::quit},
        {"the screen gone meanwhile", true, true, Change::screensGone, AfterMainWindowClosed::quit},
        {"a screen come meanwhile", true, false, Change::screenBack, AfterMainWindowClosed::keepRunningInIsland},
        {"the island turned off", true, true, Change::islandOff, AfterMainWindowClosed::quit},
        {"no island at all", false, true, Change::none, AfterMainWindowClosed::quit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ui::ScreenInfo> start;
        if (c.screenAtStart) start.push_back(ui::test::FakeScreenSource::plainScreen());
        CloseRig rig(c.island, start);
        rig.main.runUntilIdle();
        switch (c.change) {
            case Change::none: break;
            case Change::screensGone: rig.screens.set({}); break;
            case Change::screenBack: rig.screens.set({ui::test::FakeScreenSource::plainScreen()}); break;
            case Change::islandOff: rig.model->setShowInNotch(false); break;
        }
        rig.main.runUntilIdle();
        EXPECT_FALSE(trayOnScreen(rig.tray.get())) << "no tray on the test's platform";
        EXPECT_EQ(rig.lifecycle->mainWindowClosed(), c.after);
    }
}

}  // namespace
}  // namespace lumenhollow
