// lumenhollow-demo: the application with the scene-seeing camera simulator
// as its camera, so every feature can be tried without a Pocket. A tool, not
// a product feature: no command-line options; a few environment variables
// read once at start (and removed, but for the pid file, so a relaunched
// demo does not inherit them) drive the README's display-less run and the
// tests:
//
//   LUMENHOLLOW_DEMO_TOUR=<folder>  the scripted tour, screenshots into <folder>
//   LUMENHOLLOW_DEMO_STOP=never     a camera whose stop never completes
//   LUMENHOLLOW_DEMO_REOPEN=1       "Quit and Reopen" once the picture is live
//   LUMENHOLLOW_DEMO_PIDFILE=<file> appends "started <pid>" once the event loop runs
//   LUMENHOLLOW_DEMO_POSE_FILE=<file> once the picture is live, rewrites <file>
//                                   every 100 ms with the simulated camera's
//                                   pose: "sample <n> pan <deg> tilt <deg> zoom <%>"
//   LUMENHOLLOW_DEMO_STATE_FILE=<file> rewrites <file> every 100 ms with what
//                                   the application shows (run_report.h)
//   LUMENHOLLOW_DEMO_FROZEN=1       a picture that stands still, for reference
//                                   pictures of the running program: the kit's
//                                   animations off, a calendar time that stands
//                                   still (a recording's time stays 00:00), a
//                                   steady microphone tone and a fixed free-space
//                                   figure
//   LUMENHOLLOW_DEMO_CAMERA=connecting  cameras that say they connect and no
//                                   more: the window stays "Connecting"
//                                   (DemoQuietCamera)
//   LUMENHOLLOW_DEMO_CAMERA=off     cameras that say at once that the camera is
//                                   off, so the window shows it off
//   LUMENHOLLOW_DEMO_UNPLUGGED=1    no camera on the USB cable: the demo starts
//                                   on Wi-Fi, and "Use USB-C Instead" opens the
//                                   USB guide, which waits for the cable
//   LUMENHOLLOW_DEMO_UPRIGHT=1      the camera stands upright: a 1080 x 1920
//                                   picture, which the window turns to fit
//   LUMENHOLLOW_DEMO_PHOTO_GATE=<file> photos wait on the writer's queue
//                                   until <file> exists (DemoPhotoGate)
//   LUMENHOLLOW_DEMO_ENCODER_DELAY=<ms> a slow movie encoder: each frame waits
//                                   that long before it is encoded, as on a
//                                   loaded machine (the frames it has no room
//                                   for are dropped, as there)

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "hollowkit/base/standard_streams.h"
#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "lumenhollow/app/app_lifecycle.h"
#include "lumenhollow/app/application.h"
#include "lumenhollow/app/demo_camera_factory.h"
#include "lumenhollow/app/demo_photo_gate.h"
#include "lumenhollow/app/demo_tour.h"
#include "lumenhollow/app/run_report.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/ui/kit/motion.h"

namespace {

// The frozen run's calendar time (2026-03-02 10:00 UTC) and free space.
constexpr std::chrono::seconds kFrozenWallTime{1772445600};
constexpr uint64_t kFrozenFreeBytes = 128'400'000'000;

// Replaces `path` with one line of the pose; the rename means a reader never
// sees half a line.
void writePose(const std::string& path, uint64_t sample, const hollowkit::LensPose& pose) {
    char line[128];
    std::snprintf(line, sizeof line, "sample %llu pan %.3f tilt %.3f zoom %d\n", static_cast<unsigned long long>(sample),
                  pose.panDegrees, pose.tiltDegrees, pose.zoomPercent);
    lumenhollow::replaceReportFile(path, line);
}

// LUMENHOLLOW_DEMO_CAMERA's quiet cameras; nothing (the filming camera)
// for any other value, which is said.
std::optional<lumenhollow::DemoQuietCamera::Answer> quietAnswer(const std::optional<std::string>& value) {
    using Answer = lumenhollow::DemoQuietCamera::Answer;
    if (!value) return std::nullopt;
    if (*value == "connecting") return Answer::connecting;
    if (*value == "off") return Answer::cameraOff;
    std::fprintf(stderr, "lumenhollow-demo: LUMENHOLLOW_DEMO_CAMERA=%s is neither \"connecting\" nor \"off\"\n",
                 value->c_str());
    return std::nullopt;
}

// LUMENHOLLOW_DEMO_ENCODER_DELAY's writers: the library's own, each frame
// held up before it is encoded.
hollowkit::MovieWriterFactory slowMovieWriters(const std::string& milliseconds) {
    const long delay = std::strtol(milliseconds.c_str(), nullptr, 10);
    if (delay <= 0) {
        std::fprintf(stderr, "lumenhollow-demo: LUMENHOLLOW_DEMO_ENCODER_DELAY=%s is no number of milliseconds\n",
                     milliseconds.c_str());
        return {};
    }
    hollowkit::FfmpegMovieWriterOptions writer;
    writer.beforeVideoEncodeForTesting = [delay] { std::this_thread::sleep_for(std::chrono::milliseconds(delay)); };
    return hollowkit::ffmpegMovieWriterFactory(writer);
}

}  // namespace

int main(int argc, char** argv) {
    // First: nothing opened from here on may take a standard stream's number.
    hollowkit::openClosedStandardStreams();
    const std::optional<std::string> tourFolder = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_TOUR");
    const bool stopNever = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_STOP") == std::optional<std::string>("never");
    const bool reopen = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_REOPEN").has_value();
    const std::optional<std::string> poseFile = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_POSE_FILE");
    const std::optional<std::string> stateFile = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_STATE_FILE");
    const bool frozen = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_FROZEN") == std::optional<std::string>("1");
    const std::optional<std::string> cameraAnswer = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_CAMERA");
    const bool unplugged = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_UNPLUGGED") == std::optional<std::string>("1");
    const bool upright = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_UPRIGHT") == std::optional<std::string>("1");
    const std::optional<std::string> photoGate = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_PHOTO_GATE");
    const std::optional<std::string> encoderDelay = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_ENCODER_DELAY");
    // Kept: a relaunched demo reports itself in the same file.
    const char* pidFileVariable = std::getenv("LUMENHOLLOW_DEMO_PIDFILE");
    const std::optional<std::string> pidFile =
        pidFileVariable ? std::optional<std::string>(pidFileVariable) : std::nullopt;

    lumenhollow::DemoCameraFactory* factory = nullptr;
    std::unique_ptr<lumenhollow::DemoTour> tour;
    const auto currentPose = [&factory]() -> std::optional<hollowkit::LensPose> {
        auto camera = factory ? factory->latest() : nullptr;
        if (!camera) return std::nullopt;
        return camera->pose();
    };

    lumenhollow::ApplicationOptions options;
    std::unique_ptr<lumenhollow::DemoPhotoGate> gatedPhotos;
    if (photoGate) {
        gatedPhotos = std::make_unique<lumenhollow::DemoPhotoGate>(*photoGate);
        options.stillEncoder = gatedPhotos.get();
    }
    if (encoderDelay) options.movieWriters = slowMovieWriters(*encoderDelay);
    if (frozen) {
        lumenhollow::ui::setAnimationsEnabled(false);
        options.stoppedWallTime = hollowkit::WallTime(kFrozenWallTime);
        options.shownFreeBytes = kFrozenFreeBytes;
    }
    options.makeCameras = [&](hollowkit::MainExecutor& main) -> std::unique_ptr<lumenhollow::CameraFactory> {
        lumenhollow::DemoCameraFactory::Options cameraOptions;
        cameraOptions.stopCompletes = !stopNever;
        cameraOptions.swellingTone = !frozen;
        cameraOptions.quiet = quietAnswer(cameraAnswer);
        cameraOptions.pluggedIn = !unplugged;
        cameraOptions.upright = upright;
        auto made = std::make_unique<lumenhollow::DemoCameraFactory>(main, cameraOptions);
        for (const auto& missing : made->missingPictures()) {
            std::fprintf(stderr,
                         "lumenhollow-demo: the photograph %s could not be read (Debian's opencv-doc package "
                         "has it); the scene is drawn without it\n",
                         missing.c_str());
        }
        factory = made.get();
        return made;
    };
    options.started = [&](lumenhollow::RunningApplication& app) {
        if (pidFile) {
            app.main.post([path = *pidFile] {
                if (FILE* file = std::fopen(path.c_str(), "a")) {
                    std::fprintf(file, "started %d\n", static_cast<int>(::getpid()));
                    std::fclose(file);
                }
            });
        }
        if (reopen) {
            std::weak_ptr<lumenhollow::CameraModel> weak = app.model;
            auto check = std::make_shared<hollowkit::TaskId>(0);
            *check = app.main.every(std::chrono::milliseconds(100), [weak, check, &main = app.main] {
                auto model = weak.lock();
                if (!model || !model->state().stats || !model->state().stats->hasPicture) return;
                main.cancel(*check);
                model->quitAndReopen();
            });
        }
        if (poseFile) {
            std::weak_ptr<lumenhollow::CameraModel> weak = app.model;
            auto sample = std::make_shared<uint64_t>(0);
            app.main.every(std::chrono::milliseconds(100), [weak, sample, &currentPose, path = *poseFile] {
                auto model = weak.lock();
                if (!model || !model->state().stats || !model->state().stats->hasPicture) return;
                if (const std::optional<hollowkit::LensPose> pose = currentPose()) writePose(path, ++*sample, *pose);
            });
        }
        if (stateFile) {
            lumenhollow::RunReportSources sources;
            sources.pose = currentPose;
            lumenhollow::addIslandSources(sources, app.island);
            lumenhollow::startRunReport(app.main, app.model, *stateFile, std::move(sources));
        }
        if (tourFolder) {
            lumenhollow::DemoTour::Hooks hooks;
            hooks.describePose = [&currentPose] {
                const std::optional<hollowkit::LensPose> current = currentPose();
                if (!current) return std::string("no camera");
                const hollowkit::LensPose& pose = *current;
                char text[96];
                std::snprintf(text, sizeof text, "pan %.1f, tilt %.1f, zoom %d %%", pose.panDegrees,
                              pose.tiltDegrees, pose.zoomPercent);
                return std::string(text);
            };
            hooks.quit = [&lifecycle = app.lifecycle] { lifecycle.quit(); };
            tour = std::make_unique<lumenhollow::DemoTour>(app.main, app.model, app.mainWindow, *tourFolder, hooks);
            tour->start();
        }
    };
    const int status = lumenhollow::runApplication(argc, argv, std::move(options));
    return status;
}
