#pragma once

// The island's controller over the real model on a ManualExecutor, on the
// faked desktop.

#include <memory>
#include <vector>

#include "../../model/model_harness.h"
#include "lumenhollow/testing/fake_island_platform.h"
#include "lumenhollow/ui/island/island_platform.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow::ui::test {

struct IslandHarness : lumenhollow::test::ModelHarness {
    FakeScreenSource screens;
    FakePointerSource pointer;
    FakePanelInput input;
    std::unique_ptr<ModelSignals> modelSignals;
    std::unique_ptr<NotchPanelController> controller;

    explicit IslandHarness(std::vector<ScreenInfo> startScreens = {FakeScreenSource::plainScreen()}) {
        screens.set(std::move(startScreens));
        createAndStart();
        modelSignals = std::make_unique<ModelSignals>(model);
        controller = std::make_unique<NotchPanelController>(
            *modelSignals, main, NotchPanelController::Platform{screens, pointer, IslandWindowMode::translucent, &input});
    }
    ~IslandHarness() {
        controller.reset();
        modelSignals.reset();
    }

    bool expanded() const { return controller->state().expanded; }
    bool previewActive() { return model->notchPreviewActive().value(); }
    QPoint islandCentre() const { return controller->islandRect().center(); }
    // A point below the island, inside the panel's empty area.
    QPoint belowIsland() const { return controller->panelFrame().center() + QPoint(0, 150); }
    void advance(double seconds) { main.advanceSeconds(seconds); }
};

}  // namespace lumenhollow::ui::test
