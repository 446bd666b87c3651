#pragma once

// The application's start-up and end, shared by `lumenhollow` (the cameras
// of the USB and wireless routes) and `lumenhollow-demo` (the scene-seeing
// camera simulator): the termination signals first, then the settings
// folder's instance lock (a later start on the same folder brings the
// running program forward and ends; a relaunch waits for the old program's
// end), then the QApplication,
// the main executor, the platform services, the main window, the one model
// and its camera, started once; the event loop; and a teardown that cannot
// hold the process past its end. A display that goes away ends it through
// the same shutdown and teardown, with status 1 (DisplayLossWatch).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "hollowkit/base/executor.h"
#include "hollowkit/recording/still_encoder.h"
#include "hollowkit/recording/movie_writer.h"
#include "lumenhollow/model/camera_factory.h"

class QApplication;
class QWidget;

namespace lumenhollow {

class AppLifecycle;
class CameraModel;

namespace ui {
class NotchPanelController;
}

// What a running application offers to a program's own start-up step.
struct RunningApplication {
    hollowkit::MainExecutor& main;
    std::shared_ptr<CameraModel> model;
    // The main window open now; null while none is. A closed window is
    // gone, and opening it again builds a new one, which this then gives:
    // ask each time, never keep the answer.
    std::function<QWidget*()> mainWindow;
    AppLifecycle& lifecycle;
    // The island at the top of the screen; none where it cannot show.
    ui::NotchPanelController* island = nullptr;
};

struct ApplicationOptions {
    // Builds the camera factory on the main executor.
    std::function<std::unique_ptr<CameraFactory>(hollowkit::MainExecutor& main)> makeCameras;
    // Runs once the camera has been started and the window shown. What it
    // is given stays valid until the event loop ends.
    std::function<void(RunningApplication& app)> started;
    // False: Qt's own file dialogs, never the desktop's (scripted runs).
    bool desktopFileDialogs = true;
    // Scripted runs whose pictures must not change with the hour or the
    // machine: a calendar time that stands still (QtMainExecutor), and the
    // free space shown instead of the disk's.
    std::optional<hollowkit::WallTime> stoppedWallTime;
    std::optional<uint64_t> shownFreeBytes;
    // The photos' encoder (it must outlive the run); the library's when none.
    const hollowkit::StillEncoder* stillEncoder = nullptr;
    // How movies are encoded; empty: the library's own writer.
    hollowkit::MovieWriterFactory movieWriters;
};

// Names `app` and gives it the one look (the kit's style, palette and type)
// the screenshots are taken in; before any window is built. GUI thread.
void prepareApplication(QApplication& app);

// Runs the application to its end; the process's exit status.
int runApplication(int argc, char** argv, ApplicationOptions options);

}  // namespace lumenhollow
