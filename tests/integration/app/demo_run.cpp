#include "demo_run.h"

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <nlohmann/json.hpp>

#include "hollowkit/base/command_runner.h"
#include "lumenhollow/app/app_lifecycle.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/window/bottom_bar.h"
#include "lumenhollow/ui/window/main_window.h"

namespace lumenhollow::test {

MainWindow& RunningDemo::window() const {
    QWidget* open = app.mainWindow();
    // Thrown, the test fails here rather than in a window that is gone.
    if (open == nullptr) throw std::logic_error("no main window is open");
    return static_cast<MainWindow&>(*open);
}

bool RunningDemo::waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) const {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.hasExpired(limit.count())) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

bool RunningDemo::live() const {
    const PublishedState& state = model().state();
    return state.stats && state.stats->hasPicture && state.statusText == "Live";
}

bool RunningDemo::chooseRow(QMenu& menu, const QString& title) {
    Q_EMIT menu.aboutToShow();
    for (QAction* action : menu.actions()) {
        if (action->text() == title && action->isEnabled() && !action->menu()) {
            action->trigger();
            return true;
        }
    }
    return false;
}

bool RunningDemo::switchToWireless() const {
    const std::shared_ptr<hollowkit::SceneCamera> usbCamera = camera();
    auto* bar = window().findChild<BottomBar*>();
    if (!bar || !chooseRow(*bar->connectionMenu().menu(), QStringLiteral("Wireless"))) return false;
    return waitFor(
        [&] {
            return camera() != usbCamera && model().state().connection == ConnectionMode::wireless &&
                   !model().isSwitching() && live();
        },
        60s);
}

bool RunningDemo::focusWindow() const {
    const std::string id = std::to_string(window().winId());
    const hollowkit::CommandResult focused = xvfb.xdotool({"windowfocus", "--sync", id});
    if (focused.status != 0) return false;
    return waitFor([this] { return window().isActiveWindow(); }, 10s);
}

bool RunningDemo::typeKeys(const std::string& keys) const {
    return xvfb.xdotool({"key", "--clearmodifiers", keys}).status == 0;
}

bool RunningDemo::typeText(const std::string& text) const {
    return xvfb.xdotool({"type", "--clearmodifiers", text}).status == 0;
}

bool RunningDemo::clickAt(QPoint global) const {
    return xvfb.xdotool({"mousemove", "--sync", std::to_string(global.x()), std::to_string(global.y()), "click", "1"})
               .status == 0;
}

bool RunningDemo::doubleClickAt(QPoint global) const {
    return xvfb.xdotool({"mousemove", "--sync", std::to_string(global.x()), std::to_string(global.y()), "click",
                         "--repeat", "2", "--delay", "80", "1"})
               .status == 0;
}

bool RunningDemo::dragAlong(QPoint from, QPoint to) const {
    const auto at = [](QPoint p) { return std::vector<std::string>{std::to_string(p.x()), std::to_string(p.y())}; };
    std::vector<std::string> arguments{"mousemove", "--sync"};
    const auto add = [&arguments](std::vector<std::string> more) {
        arguments.insert(arguments.end(), more.begin(), more.end());
    };
    add(at(from));
    add({"mousedown", "1"});
    // xdotool's own pauses pace the pointer like a hand, so the drag has
    // begun before the pointer reaches the drop place.
    constexpr int kDragSteps = 6;
    for (int i = 1; i <= kDragSteps; ++i) {
        add({"sleep", "0.1", "mousemove"});
        add(at(from + (to - from) * i / kDragSteps));
    }
    add({"sleep", "0.3", "mouseup", "1"});
    std::atomic<bool> finished = false;
    std::atomic<int> status = -1;
    std::thread mover([&] {
        status = xvfb.xdotool(arguments).status;
        finished = true;
    });
    const bool ended = waitFor([&] { return finished.load(); }, 30s);
    mover.join();
    return ended && status == 0;
}

bool RunningDemo::moveTo(QPoint global) const {
    return xvfb.xdotool({"mousemove", "--sync", std::to_string(global.x()), std::to_string(global.y())}).status == 0;
}

bool RunningDemo::pressAt(QPoint global) const {
    return xvfb.xdotool({"mousemove", "--sync", std::to_string(global.x()), std::to_string(global.y()), "mousedown",
                         "1"})
               .status == 0;
}

bool RunningDemo::release() const { return xvfb.xdotool({"mouseup", "1"}).status == 0; }

DemoRun::~DemoRun() {
    std::error_code error;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
}

std::string DemoRun::prepare(Options options) {
    if (!hollowkit::XvfbServer::program()) return "Xvfb is not installed";
    if (!hollowkit::XvfbServer::xdotoolProgram()) return "xdotool is not installed";
    if (auto started = xvfb_.start(options.screen.width(), options.screen.height()); !started) {
        return started.error();
    }
    if (!options.monitors.empty()) {
        if (auto added = xvfb_.addMonitors(options.monitors); !added) return added.error();
    }
    if (options.background) {
        if (auto painted = xvfb_.paint(*options.background, {}); !painted) return painted.error();
    }
    if (options.privateSound) {
        if (!hollowkit::PrivatePulseServer::program()) return "pulseaudio is not installed";
        if (auto started = pulse_.start(); !started) return started.error();
        ::setenv("PULSE_SERVER", pulse_.address().c_str(), 1);
    } else {
        // Never the user's own: no sound server at all.
        ::setenv("PULSE_SERVER", "unix:/nonexistent/lumenhollow-e2e", 1);
    }
    char pattern[] = "/tmp/lumenhollow-e2e-XXXXXX";
    if (!::mkdtemp(pattern)) return "no temporary folder";
    folder_ = pattern;
    videos_ = folder_ / "Videos" / "Lumenhollow";
    const std::filesystem::path config = folder_ / "config";
    std::filesystem::create_directories(config / "lumenhollow");
    std::filesystem::create_directories(folder_ / "Videos");
    if (options.welcomed) std::ofstream(config / "lumenhollow" / "settings.json") << R"({"welcomed": true})";
    // The movies go to the run's own folder, as a user's Videos folder setting would send them.
    std::ofstream(config / "user-dirs.dirs") << "XDG_VIDEOS_DIR=\"" << (folder_ / "Videos").string() << "\"\n";
    ::setenv("DISPLAY", xvfb_.displayName().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_SCALE_FACTOR", "1", 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    return {};
}

int DemoRun::run(const std::function<void(RunningDemo&)>& script) {
    DemoCameraFactory* factory = nullptr;
    ApplicationOptions options;
    // Qt's own dialogs, which a script can fill in.
    options.desktopFileDialogs = false;
    options.makeCameras = [&factory](hollowkit::MainExecutor& main) -> std::unique_ptr<CameraFactory> {
        auto made = std::make_unique<DemoCameraFactory>(main, DemoCameraFactory::Options{});
        factory = made.get();
        return made;
    };
    options.started = [&](RunningApplication& app) {
        // The script runs from the event loop, as the user's input would.
        app.main.post([&, running = &app] {
            RunningDemo demo{*running, *factory, xvfb_, videos_};
            script(demo);
            if (!running->lifecycle.hasReplied()) running->lifecycle.quit();
        });
    };
    int argc = 1;
    char name[] = "integration_app_tests";
    char* argv[] = {name, nullptr};
    return runApplication(argc, argv, std::move(options));
}

std::vector<std::filesystem::path> moviesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> movies;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() && (extension == ".mov" || extension == ".mp4")) movies.push_back(entry.path());
    }
    std::sort(movies.begin(), movies.end());
    return movies;
}

std::optional<ProbedMovie> probeMovie(const std::filesystem::path& movie) {
    // Generous: a loaded machine has been seen to take half a minute for a small movie.
    const hollowkit::CommandResult result = hollowkit::CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "error", "-of", "json", "-count_packets", "-show_streams", "-show_format", movie.string()}, {},
        /*logged=*/false, std::chrono::seconds(120));
    if (result.status != 0) return std::nullopt;
    const nlohmann::json probed = nlohmann::json::parse(result.output, nullptr, false);
    if (!probed.is_object() || !probed.contains("streams") || !probed.contains("format")) return std::nullopt;
    ProbedMovie found;
    for (const auto& stream : probed["streams"]) {
        const std::string type = stream.value("codec_type", "");
        if (type == "video") found.videoFrames = std::atoi(stream.value("nb_read_packets", "0").c_str());
        if (type == "audio") found.hasAudio = true;
    }
    found.durationSeconds = std::strtod(probed["format"].value("duration", "0").c_str(), nullptr);
    return found;
}

std::optional<ProbedMovie> waitForMovie(const RunningDemo& demo, int frames, std::chrono::milliseconds limit) {
    std::optional<ProbedMovie> probed;
    const bool found = demo.waitFor(
        [&] {
            const std::vector<std::filesystem::path> movies = moviesIn(demo.videos);
            if (demo.model().isRecording() || movies.size() != 1) return false;
            probed = probeMovie(movies.front());
            return probed && probed->videoFrames >= frames;
        },
        limit);
    return found ? probed : std::nullopt;
}

}  // namespace lumenhollow::test
