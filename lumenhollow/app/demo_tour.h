#pragma once

// DemoTour: the demonstration's scripted visit, for machines without a
// display of their own: once the picture is live it saves a screenshot of
// the main window, turns the gimbal right for a moment, saves another,
// zooms in a few steps, saves a third, prints where each went and quits
// through the quit request. Each step runs on the main executor; a picture
// that never comes ends the tour with a message and quits. Main executor only.

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "hollowkit/base/executor.h"

class QWidget;

namespace lumenhollow {

class CameraModel;

class DemoTour {
public:
    struct Hooks {
        // Where the simulated lens points, for the printed log.
        std::function<std::string()> describePose;
        // The quit request.
        std::function<void()> quit;
    };

    // `window` gives the main window open now (RunningApplication::mainWindow).
    DemoTour(hollowkit::MainExecutor& main, std::shared_ptr<CameraModel> model, std::function<QWidget*()> window,
             std::filesystem::path folder, Hooks hooks);

    void start();

private:
    void waitForPicture(int attemptsLeft);
    void turn();
    void zoom();
    void shoot(const char* name);
    void then(double seconds, std::function<void()> step);

    hollowkit::MainExecutor& main_;
    std::weak_ptr<CameraModel> model_;
    const std::function<QWidget*()> window_;
    const std::filesystem::path folder_;
    const Hooks hooks_;
};

}  // namespace lumenhollow
