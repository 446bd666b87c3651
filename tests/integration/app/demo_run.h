#pragma once

// The whole demonstration application in this test process: the real
// composition (runApplication, its window, menu bar, model and services)
// with the scene-seeing simulator as its camera, on a private Xvfb, with a
// settings folder and a videos folder of the run's own. A test hands run()
// a script; the script runs on the GUI thread once the window is up, waits
// by spinning the event loop (bounded, never by sleeping) and reads the
// simulator and the widgets directly. When the script ends, the run asks
// the application to quit, unless the script did; run() returns the exit
// status the application's event loop ended with.

#include <gtest/gtest.h>

#include <QPoint>
#include <QSize>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/simulation/scene_camera.h"
#include "hollowkit/testing/private_pulse_server.h"
#include "hollowkit/testing/xvfb_server.h"
#include "lumenhollow/app/application.h"
#include "lumenhollow/app/demo_camera_factory.h"

namespace lumenhollow {
class MainWindow;
}

class QMenu;

namespace lumenhollow::test {

using namespace std::chrono_literals;

// What a script works with; GUI thread only.
struct RunningDemo {
    RunningApplication& app;
    DemoCameraFactory& cameras;
    const hollowkit::XvfbServer& xvfb;
    const std::filesystem::path& videos;

    CameraModel& model() const { return *app.model; }
    MainWindow& window() const;
    std::shared_ptr<hollowkit::SceneCamera> camera() const { return cameras.latest(); }

    // Spins the event loop until `done` holds; false when `limit` ran out.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) const;
    // The model shows the camera's picture as live.
    bool live() const;
    bool waitForLive() const { return waitFor([this] { return live(); }, 60s); }

    // Gives the window the X server's keyboard focus, as a click on it would.
    bool focusWindow() const;
    // Types `keys` (xdotool's names, "ctrl+r") into the focused window.
    bool typeKeys(const std::string& keys) const;
    // Types `text` character by character into the focused window.
    bool typeText(const std::string& text) const;
    // Moves the pointer to `global` (screen pixels) and clicks the left button there.
    bool clickAt(QPoint global) const;
    // Two clicks there, as quick as a person's double-click.
    bool doubleClickAt(QPoint global) const;
    // Presses the left button at `from`, moves in steps to `to` and lets go,
    // with the event loop running all along: a drag runs a loop of its own.
    bool dragAlong(QPoint from, QPoint to) const;
    // A drag in steps the script watches between: the pointer to `global`
    // (no button change), the left button pressed there, and let go. Each
    // returns once the X server has done it; the application hears of it
    // while the script waits.
    bool moveTo(QPoint global) const;
    bool pressAt(QPoint global) const;
    bool release() const;

    // Chooses the enabled row `title` of `menu` as a person would, the menu
    // filled as it opens; false when there is none.
    static bool chooseRow(QMenu& menu, const QString& title);
    // The wireless route as the user picks it, from the bottom bar's
    // connection menu; true once a new camera shows a live picture there.
    bool switchToWireless() const;
};

class DemoRun {
public:
    struct Options {
        // Off: the first launch's welcome sheet opens over the picture.
        bool welcomed = true;
        // The X screen's size, and RandR monitors over parts of it (none:
        // the whole screen is the one monitor).
        QSize screen{1920, 1080};
        std::vector<hollowkit::LogicalMonitor> monitors = {};
        // The root window's colour, where no window covers it.
        std::optional<hollowkit::RgbColor> background = {};
        // On: a sound server of the run's own (its tone as the default
        // source) is the application's; off: the application finds none.
        bool privateSound = false;
    };

    DemoRun() = default;
    ~DemoRun();
    DemoRun(const DemoRun&) = delete;
    DemoRun& operator=(const DemoRun&) = delete;

    // Starts the X server and prepares the folders; an empty string, or why not.
    std::string prepare(Options options);
    // Runs the application with `script`; its exit status.
    int run(const std::function<void(RunningDemo&)>& script);

    const std::filesystem::path& videos() const { return videos_; }
    const hollowkit::XvfbServer& xvfb() const { return xvfb_; }
    hollowkit::XvfbServer& xvfb() { return xvfb_; }
    // The run's sound server; not started unless asked for.
    const hollowkit::PrivatePulseServer& pulse() const { return pulse_; }

private:
    hollowkit::XvfbServer xvfb_;
    hollowkit::PrivatePulseServer pulse_;
    std::filesystem::path folder_;
    std::filesystem::path videos_;
};

// The movies in `folder` (".mov" or ".mp4"), oldest name first.
std::vector<std::filesystem::path> moviesIn(const std::filesystem::path& folder);

// ffprobe's reading of a movie: its video stream's frame count and the
// container's duration; nothing when ffprobe cannot read it.
struct ProbedMovie {
    int videoFrames = 0;
    double durationSeconds = 0;
    bool hasAudio = false;
};
std::optional<ProbedMovie> probeMovie(const std::filesystem::path& movie);

// The one finished movie of the run once ffprobe reads at least `frames`
// video frames in it; nothing when none comes within `limit`.
std::optional<ProbedMovie> waitForMovie(const RunningDemo& demo, int frames,
                                        std::chrono::milliseconds limit = std::chrono::seconds(90));

}  // namespace lumenhollow::test
