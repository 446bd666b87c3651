#pragma once

// The real main window over the camera model with every service faked, on
// a ManualExecutor run from the test: shown and active on the test's
// platform, so QTest's key, mouse and wheel events reach it as a user's do.

#include <QTest>

#include <functional>
#include <memory>
#include <optional>

#include "../model/model_harness.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"

namespace lumenhollow::test {

struct WindowHarness : ModelHarness {
    std::shared_ptr<VideoFeed> feed = std::make_shared<VideoFeed>();
    std::unique_ptr<ModelSignals> modelSignals;
    std::unique_ptr<MainWindow> window;

    // A model over a USB-like camera at a known position with a zoom range,
    // or a wireless-like one. Unless `welcomed` is false, the first
    // launch's welcome sheet is dismissed. `audioInputs`, when given, is
    // this computer's sound server; `more`, when given, adds services of the
    // test's own before the model is made.
    explicit WindowHarness(bool usb = true, bool welcomed = true, hollowkit::AudioInputBackend* audioInputs = nullptr,
                           const std::function<void(CameraModelServices&)>& more = {}) {
        cameras.setPocketConnected(usb);
        FakeCamera::Options options;
        options.zoomRange = hollowkit::ZoomRange{100, 400};
        options.position = hollowkit::CameraPosition{20, -4, 100};
        cameras.setOptions(usb ? ConnectionMode::usb : ConnectionMode::wireless, options);
        // The window's feed is the model's main display.
        CameraModelServices withFeed = services();
        withFeed.displayLayer = feed;
        if (audioInputs) withFeed.audioInputs = audioInputs;
        if (more) more(withFeed);
        model = CameraModel::create(withFeed);
        model->camera().start();
        main.runUntilIdle();
        if (welcomed) model->dismissSheets();
        modelSignals = std::make_unique<ModelSignals>(model);
    }

    ~WindowHarness() {
        window.reset();
        modelSignals.reset();
    }

    // Builds the window, shows it and waits until it has the keyboard.
    MainWindow& show() {
        window = std::make_unique<MainWindow>(*modelSignals, *feed);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get(), 5000));
        return *window;
    }

    VideoSurface& surface() const { return window->surface(); }
    hollowkit::GimbalVelocity velocity() const { return camera()->gimbal().storedVelocity(); }
    std::vector<std::string> commands() const {
        std::vector<std::string> all = camera()->commands();
        std::erase(all, "start");
        std::erase(all, "currentPosition");
        return all;
    }
};

}  // namespace lumenhollow::test
