#pragma once

// The running application's observable state, written for scripted runs
// (the demonstration's and the journey tests' programs): every 100 ms one
// JSON object replaces the file at `path` through a rename, so a reader
// never sees half of one. What the window and the island show, the model's
// connection, recording, photos still to be written and sheets, the screen
// take's settings (its switch, auto zoom and bubble, under the names the
// panel shows) and its composition's progress, and the simulated camera's
// pose and own record when there is one. Main executor only; it stops when
// the model is gone.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/executor.h"
#include "hollowkit/simulation/scene_camera.h"

namespace lumenhollow {

class CameraModel;

namespace ui {
class NotchPanelController;
}

// A rectangle on the screen, in global (X server) pixels.
struct ReportRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Where the island is on the screen, and the open island's picture, record
// button, first scene chip and main-window button while they are shown.
struct IslandPlaces {
    ReportRect island;
    std::optional<ReportRect> picture;
    std::optional<ReportRect> record;
    std::optional<ReportRect> firstSceneChip;
    std::optional<ReportRect> windowButton;
};

struct RunReportSources {
    // The simulated camera's pose; nothing without one.
    std::function<std::optional<hollowkit::LensPose>()> pose;
    // Whether the island is open (expanded); nothing without an island.
    std::function<std::optional<bool>()> islandOpen;
    // The simulated camera's own record as one JSON object's text, reported
    // under "simulator"; nothing without one.
    std::function<std::string()> simulator;
    // Where the island is while it is on the screen; nothing otherwise.
    std::function<std::optional<IslandPlaces>()> islandPlaces;
};

// Fills in the island's sources from `island` (the application's; null
// where it cannot show). It must outlive the report.
void addIslandSources(RunReportSources& sources, const ui::NotchPanelController* island);

// The report's text for the model's current state, one line of JSON.
std::string runReportText(const CameraModel& model, const RunReportSources& sources, uint64_t sample);

// Replaces the file at `path` with `text` through a rename, so a reader
// never sees half of it.
void replaceReportFile(const std::string& path, const std::string& text);

// The variable's value, removed from the environment, so a program a
// scripted run starts again does not inherit it.
std::optional<std::string> takeEnvironment(const char* name);

// Starts rewriting `path` every 100 ms while the model lives.
void startRunReport(hollowkit::MainExecutor& main, const std::shared_ptr<CameraModel>& model, std::string path,
                    RunReportSources sources);

}  // namespace lumenhollow
