#pragma once

// Stand-ins for the island's desktop: screens set by the test (a fake notch
// among them), a pointer moved by the test, and an input switch that only
// remembers; plus the controller over the real model on a ManualExecutor.

#include <memory>
#include <vector>

#include "../../model/model_harness.h"
#include "lumenhollow/ui/island/island_platform.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/kit/model_signals.h"

namespace lumenhollow::ui::test {

class FakeScreenSource final : public ScreenSource {
public:
    std::vector<ScreenInfo> screens() const override { return screens_; }
    void set(std::vector<ScreenInfo> screens) {
        screens_ = std::move(screens);
        Q_EMIT changed();
    }

private:
    std::vector<ScreenInfo> screens_{plainScreen()};

public:
    static ScreenInfo plainScreen() { return {"plain", QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080), true, {}}; }
    // A 1512x982 screen with a 200x32 notch.
    static ScreenInfo notchedScreen() {
        return {"notched", QRect(0, 0, 1512, 982), QRect(0, 32, 1512, 950), true, ScreenNotch{32, 656, 656}};
    }
};

class FakePointerSource final : public PointerSource {
public:
    PointerSample sample() const override { return sample_; }
    void moveTo(QPoint position) {
        sample_.position = position;
        Q_EMIT moved();
    }
    void setButtons(bool held) {
        sample_.buttonsHeld = held;
        Q_EMIT moved();
    }

private:
    PointerSample sample_{QPoint(0, 800), false};
};

class FakePanelInput final : public PanelInput {
public:
    void setPassThrough(bool on) override { on_ = on; }
    bool passThrough() const override { return on_; }

private:
    bool on_ = true;
};

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
