#include "lumenhollow/app/app_lifecycle.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hollowkit/testing/manual_executor.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_camera_factory.h"
#include "lumenhollow/testing/fake_desktop.h"
#include "lumenhollow/testing/fake_disk_space.h"
#include "lumenhollow/testing/fake_secret_store.h"
#include "lumenhollow/testing/fake_secure_random.h"
#include "lumenhollow/testing/memory_settings_store.h"

namespace lumenhollow {
namespace {

using namespace std::chrono_literals;

// The model on virtual time with fake cameras, and the lifecycle as its
// shell, its window and process hooks recording what they were asked:
// "terminating" (later starts stop being answered) comes once, before the
// relaunch, however many ways out were taken.
struct Rig {
    explicit Rig(FakeCamera::StopMode stopMode, bool relaunchWorks = true) {
        FakeCamera::Options options;
        options.stopMode = stopMode;
        cameras.setOptions(ConnectionMode::usb, options);
        cameras.setOptions(ConnectionMode::wireless, options);
        AppLifecycle::Hooks hooks;
        hooks.endAttachedSheets = [this] { return std::exchange(sheetOpen, false); };
        hooks.hideMainWindow = [this] { calls.push_back("hide"); };
        hooks.islandAvailable = [this] { return islandAvailable; };
        hooks.trayAvailable = [this] {
            ++trayAsked;
            return trayShown;
        };
        hooks.relaunch = [this, relaunchWorks] {
            calls.push_back("relaunch");
            return relaunchWorks;
        };
        hooks.terminating = [this] { calls.push_back("terminating"); };
        hooks.exit = [this](int status) { calls.push_back("exit " + std::to_string(status)); };
        lifecycle = std::make_unique<AppLifecycle>(main, hooks);
        model = CameraModel::create(CameraModelServices{main, settings, secrets, random, disk, cameras, *lifecycle,
                                                        desktop, std::make_shared<CountingVideoSink>(),
                                                        std::make_shared<CountingVideoSink>(), "/nonexistent/out", {}});
        lifecycle->setModel(model);
        model->camera().start();
        model->startTimers();
        main.runUntilIdle();
    }

    size_t count(const std::string& call) const { return std::count(calls.begin(), calls.end(), call); }
    size_t stopsAsked() const {
        size_t stops = 0;
        for (size_t i = 0; auto camera = cameras.camera(i); ++i) {
            for (const auto& command : camera->commands()) stops += command == "stop" ? 1 : 0;
        }
        return stops;
    }

    hollowkit::ManualExecutor main;
    MemorySettingsStore settings;
    FakeSecretStore secrets;
    FakeSecureRandom random;
    FakeDiskSpace disk;
    FakeCameraFactory cameras{main};
    FakeDesktop desktop;
    bool sheetOpen = false;
    bool islandAvailable = false;
    bool trayShown = false;
    int trayAsked = 0;
    std::vector<std::string> calls;
    std::unique_ptr<AppLifecycle> lifecycle;
    std::shared_ptr<CameraModel> model;
};

TEST(AppLifecycleTest, EveryQuitEndsTheProcessExactlyOnce) {
    enum class Quit : uint8_t { once, twice, thenWindowClosed, reopen };
    const struct {
        const char* name;
        FakeCamera::StopMode stop;
        Quit quit;
        bool sheetOpen;
        bool relaunchWorks;
        double exitAtSeconds;  // virtual time; 0: once the posted work has run
        std::vector<std::string> calls;
    } cases[] = {
        {"a camera stopping at once", FakeCamera::StopMode::immediate, Quit::once, false, true, 0,
         {"terminating", "exit 0"}},
        {"a sheet open waits for it to go", FakeCamera::StopMode::immediate, Quit::once, true, true, 0.35,
         {"terminating", "exit 0"}},
        {"a camera never stopping: the fallback", FakeCamera::StopMode::never, Quit::once, false, true, 3.0,
         {"terminating", "exit 0"}},
        {"a second quit during the shutdown", FakeCamera::StopMode::never, Quit::twice, false, true, 3.0,
         {"terminating", "exit 0"}},
        {"the window closed during the shutdown", FakeCamera::StopMode::never, Quit::thenWindowClosed, false, true,
         3.0, {"terminating", "exit 0"}},
        {"quit and reopen", FakeCamera::StopMode::immediate, Quit::reopen, false, true, 0,
         {"terminating", "relaunch", "exit 0"}},
        {"quit and reopen, the relaunch failing", FakeCamera::StopMode::never, Quit::reopen, false, false, 3.0,
         {"terminating", "relaunch", "exit 0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.stop, c.relaunchWorks);
        rig.sheetOpen = c.sheetOpen;
        if (c.quit == Quit::reopen) {
            rig.model->quitAndReopen();
        } else {
            rig.lifecycle->quit();
        }
        EXPECT_TRUE(rig.calls.empty()) << "nothing ends within the request's own turn";
        if (c.quit == Quit::twice) rig.lifecycle->quit();
        if (c.quit == Quit::thenWindowClosed) rig.lifecycle->mainWindowClosed();
        if (c.exitAtSeconds > 0) {
            rig.main.advance(hollowkit::toDuration(c.exitAtSeconds) - 1ms);
            EXPECT_EQ(rig.count("exit 0"), 0u) << "too early";
            rig.main.advance(1ms);
        } else {
            rig.main.runUntilIdle();
        }
        EXPECT_EQ(rig.calls, c.calls);
        EXPECT_EQ(rig.stopsAsked(), 1u);
        // Whatever comes later finds the process ended.
        rig.lifecycle->quit();
        rig.lifecycle->mainWindowClosed();
        rig.main.advanceSeconds(60);
        EXPECT_EQ(rig.calls, c.calls);
        EXPECT_TRUE(rig.lifecycle->hasReplied());
    }
}

TEST(AppLifecycleTest, ClosingTheWindowQuitsWithoutTheSheetStepOrHidesIt) {
    const struct {
        const char* name;
        CloseBehavior behavior;
        bool showInNotch;
        bool island;
        std::vector<std::string> calls;
        int trayAsked;
        bool trayShown = false;
    } cases[] = {
        // The tray, whose answer may wait on the desktop, is asked only
        // where the island does not decide.
        {"quit chosen", CloseBehavior::quit, true, true, {"terminating", "exit 0"}, 0},
        {"the island off", CloseBehavior::keepInNotch, false, true, {"terminating", "exit 0"}, 0},
        {"kept in the island", CloseBehavior::keepInNotch, true, true, {"hide"}, 0},
        {"no island to keep it in", CloseBehavior::keepInNotch, true, false, {"terminating", "exit 0"}, 1},
        {"kept in the tray", CloseBehavior::keepInNotch, true, false, {"hide"}, 1, true},
        {"quit chosen, no island", CloseBehavior::quit, true, false, {"terminating", "exit 0"}, 0},
        {"the island off, none shown", CloseBehavior::keepInNotch, false, false, {"terminating", "exit 0"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(FakeCamera::StopMode::immediate);
        rig.model->setCloseBehavior(c.behavior);
        rig.model->setShowInNotch(c.showInNotch);
        rig.islandAvailable = c.island;
        rig.trayShown = c.trayShown;
        rig.sheetOpen = true;  // the last window's close ends no sheet: no 0.35 s wait
        rig.lifecycle->mainWindowClosed();
        rig.main.advance(10ms);
        EXPECT_EQ(rig.calls, c.calls);
        EXPECT_EQ(rig.trayAsked, c.trayAsked);
        EXPECT_EQ(rig.stopsAsked(), c.calls.back() == "exit 0" ? 1u : 0u);
    }
}

}  // namespace
}  // namespace lumenhollow
