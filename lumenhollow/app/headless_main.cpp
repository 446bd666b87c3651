// lumenhollow-headless: runs the camera model without a window. The model
// sits on a LoopExecutor with the real settings file ($XDG_CONFIG_HOME),
// keyring, random source and disk query, and fake cameras that deliver
// pictures from a thread of their own. The run connects, shows frames on
// counting sinks, switches the route back and forth, stops the camera and
// exits 0; a step that does not finish in time ends it with status 1.
//
//   lumenhollow-headless [--frames N] [--switches N] [--fps F] [--size WxH]
//                        [--start usb|wireless] [--timeout SECONDS]

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <type_traits>

#include "hollowkit/base/broken_pipe.h"
#include "hollowkit/base/loop_executor.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/base/standard_streams.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/model/credentials.h"
#include "lumenhollow/model/model_types.h"
#include "lumenhollow/platform/json_settings_store.h"
#include "lumenhollow/platform/linux/getrandom_secure_random.h"
#include "lumenhollow/platform/linux/libsecret_store.h"
#include "lumenhollow/platform/linux/statvfs_disk_space.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_camera_factory.h"
#include "lumenhollow/testing/fake_desktop.h"

namespace lumenhollow {
namespace {

struct Options {
    int frames = 30;  // to show per route
    int switches = 2;
    double framesPerSecond = 60;
    int width = 1280;
    int height = 720;
    ConnectionMode start = ConnectionMode::usb;
    std::chrono::seconds timeout{20};  // per step
};

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!value) return std::nullopt;
        ++i;
        if (arg == "--frames") {
            options.frames = std::atoi(value);
        } else if (arg == "--switches") {
            options.switches = std::atoi(value);
        } else if (arg == "--fps") {
            options.framesPerSecond = std::atof(value);
        } else if (arg == "--size") {
            if (std::sscanf(value, "%dx%d", &options.width, &options.height) != 2) return std::nullopt;
        } else if (arg == "--start") {
            if (std::string_view(value) == "usb") {
                options.start = ConnectionMode::usb;
            } else if (std::string_view(value) == "wireless") {
                options.start = ConnectionMode::wireless;
            } else {
                return std::nullopt;
            }
        } else if (arg == "--timeout") {
            options.timeout = std::chrono::seconds(std::atoi(value));
        } else {
            return std::nullopt;
        }
    }
    const bool sane = options.frames > 0 && options.switches >= 0 && options.framesPerSecond > 0 &&
                      options.width > 0 && options.height > 0 && options.timeout.count() > 0;
    return sane ? std::optional(options) : std::nullopt;
}

// No window: nothing to raise.
// No windows and no sheets; the run ends by its own script, never through a
// quit request, so the termination calls have nothing to do.
class HeadlessShell final : public AppShell {
public:
    void activateApplication() override {}
    bool bringMainWindowForward() override { return false; }
    bool endAttachedSheets() override { return false; }
    void requestTermination() override {}
    void replyToTermination(bool) override {}
};

const char* routeName(ConnectionMode mode) {
    return mode == ConnectionMode::usb ? "usb" : "wireless";
}

class HeadlessRun {
public:
    template <typename Task>
    auto onMain(Task task) {
        using R = std::invoke_result_t<Task>;
        if constexpr (std::is_void_v<R>) {
            main_.sync(std::move(task));
        } else {
            std::optional<R> result;
            main_.sync([&] { result = task(); });
            return std::move(*result);
        }
    }

    explicit HeadlessRun(Options options)
        : options_(options), settings_(JsonSettingsStore::defaultPath()), cameras_(main_) {
        cameras_.setPocketConnected(options_.start == ConnectionMode::usb);
    }

    // The script; false at the first step that fails.
    bool run() {
        onMain([this] {
            model_ = CameraModel::create(CameraModelServices{main_, settings_, secrets_, random_, disk_, cameras_,
                                                             shell_, desktop_, display_, notch_, {}, {}});
            model_->camera().start();
        });
        ConnectionMode route = onMain([this] { return model_->state().connection; });
        if (!showFrames(route)) return false;
        for (int i = 0; i < options_.switches; ++i) {
            route = route == ConnectionMode::usb ? ConnectionMode::wireless : ConnectionMode::usb;
            onMain([this, route] { model_->selectConnection(route); });
            if (!step("switch to " + std::string(routeName(route)), [this, route] {
                    return !model_->isSwitching() && model_->state().connection == route;
                })) {
                return false;
            }
            if (!showFrames(route)) return false;
        }

        auto stopped = std::make_shared<std::atomic<bool>>(false);
        onMain([this, stopped] { model_->stopCamera([stopped] { *stopped = true; }); });
        if (!step("stop", [this, stopped] { return stopped->load() && model_->state().statusText == "Disconnected"; })) {
            return false;
        }
        // The settings file now holds the identifier the cameras were built with.
        const std::optional<std::string> identifier =
            JsonSettingsStore(settings_.file()).get<std::string>(kPairingIdentifierKey);
        if (!identifier || identifier->size() != 32) {
            std::fprintf(stderr, "headless: no pairing identifier in %s\n", settings_.file().c_str());
            return false;
        }
        std::printf("settings: %s\n", settings_.file().c_str());
        return true;
    }

    ~HeadlessRun() {
        onMain([this] {
            if (auto camera = cameras_.latest()) camera->stopFrames();
            model_.reset();
        });
    }

private:
    // Starts the active camera's pictures and waits until the main window's
    // sink has shown `frames` of them and the status is live.
    bool showFrames(ConnectionMode route) {
        const int before = onMain([this] {
            cameras_.latest()->startFrames(options_.framesPerSecond, [w = options_.width, h = options_.height](uint64_t) {
                return FakeCamera::makeFrame(w, h);
            });
            return display_->enqueued();
        });
        const std::string name = routeName(route);
        if (!step(name + " frames", [&] { return display_->enqueued() >= before + options_.frames; })) return false;
        onMain([this] {
            hollowkit::CameraStats stats;
            stats.hasPicture = true;
            stats.framesPerSecond = options_.framesPerSecond;
            stats.resolution = hollowkit::VideoDimensions{options_.width, options_.height};
            cameras_.latest()->emit(hollowkit::CameraEvent::stats(stats));
        });
        if (!step(name + " live", [this] { return model_->state().statusText == "Live"; })) return false;
        const auto [shown, width, height] = onMain([this] {
            return std::tuple(display_->enqueued(), display_->last()->width(), display_->last()->height());
        });
        std::printf("%s: %d frames shown in all, last %dx%d, status Live\n", name.c_str(), shown, width, height);
        return true;
    }

    // Polls `done` on the main executor until it holds or the step's time is up.
    bool step(const std::string& name, const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + options_.timeout;
        while (!onMain(done)) {
            if (std::chrono::steady_clock::now() >= end) {
                std::fprintf(stderr, "headless: %s did not finish within %llds\n", name.c_str(),
                             static_cast<long long>(options_.timeout.count()));
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }


    const Options options_;
    hollowkit::LoopExecutor main_;  // first: runs until the rest has gone
    JsonSettingsStore settings_;
    LibsecretStore secrets_;
    GetrandomSecureRandom random_;
    StatvfsDiskSpace disk_;
    HeadlessShell shell_;
    FakeDesktop desktop_;  // the run opens no folder
    FakeCameraFactory cameras_;  // main executor only
    std::shared_ptr<CountingVideoSink> display_ = std::make_shared<CountingVideoSink>(false);
    std::shared_ptr<CountingVideoSink> notch_ = std::make_shared<CountingVideoSink>(false);
    std::shared_ptr<CameraModel> model_;  // main executor only
};

}  // namespace
}  // namespace lumenhollow

int main(int argc, char** argv) {
    // First: nothing opened from here on may take a standard stream's number.
    hollowkit::openClosedStandardStreams();
    const std::optional<lumenhollow::Options> options = lumenhollow::parse(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: lumenhollow-headless [--frames N] [--switches N] [--fps F] [--size WxH] "
                     "[--start usb|wireless] [--timeout SECONDS]\n");
        return 2;
    }
    if (!hollowkit::installBrokenPipeHandler()) std::perror("headless: SIGPIPE");
    hollowkit::installFfmpegLogging();
    hollowkit::applyMemorySettings();
    bool ok = false;
    {
        lumenhollow::HeadlessRun run(*options);
        ok = run.run();
    }
    return ok ? 0 : 1;
}
