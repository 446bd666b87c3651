#pragma once

// The island over the real model with its own picture feed, as the
// application builds it: a camera with a zoom range at a known position,
// USB-like or wireless-like, and the click trigger so tests open it at once.

#include <memory>
#include <string>
#include <vector>

#include "island_fakes.h"
#include "lumenhollow/ui/island/island_expanded_view.h"
#include "lumenhollow/ui/island/island_preview.h"
#include "lumenhollow/ui/island/notch_view.h"
#include "lumenhollow/ui/window/video_feed.h"

namespace lumenhollow::ui::test {

struct PreviewHarness : lumenhollow::test::ModelHarness {
    FakeScreenSource screens;
    FakePointerSource pointer;
    FakePanelInput input;
    std::shared_ptr<VideoFeed> feed = std::make_shared<VideoFeed>();
    std::unique_ptr<ModelSignals> modelSignals;
    std::unique_ptr<NotchPanelController> controller;

    explicit PreviewHarness(bool usb) {
        cameras.setPocketConnected(usb);
        lumenhollow::FakeCamera::Options options;
        options.zoomRange = hollowkit::ZoomRange{100, 400};
        options.position = hollowkit::CameraPosition{20, -4, 100};
        cameras.setOptions(usb ? ConnectionMode::usb : ConnectionMode::wireless, options);
        CameraModelServices withFeed = services();
        withFeed.notchDisplayLayer = feed;
        model = CameraModel::create(withFeed);
        model->camera().start();
        main.runUntilIdle();
        modelSignals = std::make_unique<ModelSignals>(model);
        controller = std::make_unique<NotchPanelController>(
            *modelSignals, main,
            NotchPanelController::Platform{screens, pointer, IslandWindowMode::translucent, &input, feed.get()});
        model->setNotchTrigger(NotchTrigger::click);
    }
    ~PreviewHarness() {
        controller.reset();
        modelSignals.reset();
    }
    void open() {
        controller->islandTapped();
        main.runUntilIdle();
    }
    IslandExpandedView& content() const { return controller->view().expandedView(); }
    IslandPreview& preview() const { return content().preview(); }
    hollowkit::GimbalVelocity velocity() const { return camera()->gimbal().storedVelocity(); }
    std::vector<std::string> moves() const {
        std::vector<std::string> all = camera()->commands();
        std::erase_if(all, [](const std::string& c) { return c.rfind("move", 0) != 0; });
        return all;
    }
};

}  // namespace lumenhollow::ui::test
