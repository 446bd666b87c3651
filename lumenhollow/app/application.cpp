#include "lumenhollow/app/application.h"

#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSessionManager>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "hollowkit/base/broken_pipe.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/base/pocket_log.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "hollowkit/recording/linux/linux_recording_system.h"
#include "lumenhollow/app/app_lifecycle.h"
#include "lumenhollow/app/close_reach.h"
#include "lumenhollow/app/display_loss.h"
#include "lumenhollow/app/instance_start.h"
#include "lumenhollow/app/qt_main_executor.h"
#include "lumenhollow/app/teardown_watch.h"
#include "lumenhollow/app/termination_signals.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/platform/json_settings_store.h"
#include "lumenhollow/platform/linux/freedesktop_desktop.h"
#include "lumenhollow/platform/linux/freedesktop_power_assertion.h"
#include "lumenhollow/platform/linux/getrandom_secure_random.h"
#include "lumenhollow/platform/linux/libsecret_store.h"
#include "lumenhollow/platform/linux/statvfs_disk_space.h"
#include "lumenhollow/platform/linux/session_bus_address.h"
#include "lumenhollow/platform/linux/unix_instance_lock.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "lumenhollow/ui/island/x11/compositor_watch.h"
#include "lumenhollow/ui/island/x11/desktop_pointer_source.h"
#include "lumenhollow/ui/island/x11/qt_screen_source.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/popup_screens.h"
#include "lumenhollow/ui/shell/camera_menu_bar.h"
#include "lumenhollow/ui/shell/qt_file_picker.h"
#include "lumenhollow/ui/shell/sizer_attachment.h"
#include "lumenhollow/ui/shell/tray_icon.h"
#include "lumenhollow/ui/shell/updater.h"
#include "lumenhollow/ui/shell/window_sizer.h"
#include "lumenhollow/ui/shell/x11/x11_window_frame.h"
#include "lumenhollow/ui/window/chrome_layout.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/notch_settings_menu.h"
#include "lumenhollow/ui/window/sheet_host.h"
#include "lumenhollow/ui/window/tool_actions.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"
#include "lumenhollow/ui/window/x11/xcb_take_focus_source.h"

namespace lumenhollow {
namespace {

// The display lost: the exit status Qt would have ended the process with,
// and how long its shutdown may take at most (the model bounds each of its
// steps itself; this only keeps a shutdown that never replies from holding
// the process).
constexpr int kDisplayLostStatus = 1;
constexpr auto kDisplayLostShutdownLimit = std::chrono::minutes(2);
// The disk's free space, or one figure in its place.
class ShownDiskSpace final : public DiskSpace {
public:
    explicit ShownDiskSpace(std::optional<uint64_t> shown) : shown_(shown) {}
    std::optional<uint64_t> availableBytes(const std::filesystem::path& folder) const override {
        return shown_ ? shown_ : disk_.availableBytes(folder);
    }

private:
    const std::optional<uint64_t> shown_;
    StatvfsDiskSpace disk_;
};

// Everything the running application holds, made in dependency order and
// torn down in reverse.
struct Parts {
    Parts(const ApplicationOptions& options, InstanceLock& instanceLock, bool useTray)
        : instance(instanceLock),
          main(options.stoppedWallTime),
          disk(options.shownFreeBytes),
          filePicker([this] { return fileDialogParent(); }, QtFilePicker::Options{options.desktopFileDialogs}),
          cameras(options.makeCameras(main)),
          lifecycle(main, lifecycleHooks()) {
        CameraModelServices services{main,    settings, secrets, random, disk, *cameras, lifecycle, desktop, feed,
                                     islandFeed, {}, {}, recording.audioInputs.get(), &power};
        services.filePicker = &filePicker;
        services.recordingSystem = &recording;
        services.stillEncoder = options.stillEncoder;
        services.movieWriters = options.movieWriters;
        model = CameraModel::create(std::move(services));
        lifecycle.setModel(model);
        modelSignals = std::make_unique<ModelSignals>(model);
        // A menu open when its screen changes size comes inside it.
        popupKeeper = std::make_unique<ui::PopupScreenKeeper>();
        // The window keeps the picture's shape; whichever main window is
        // active is the one sized.
        // Never smaller than the window's controls need, whatever the screen.
        WindowSizer::Options sizing;
        sizing.floor = FitFloor{static_cast<int>(kRailBelowWidth),
                                FitSize{static_cast<int>(kRailFloor.width), static_cast<int>(kRailFloor.height)},
                                FitSize{static_cast<int>(kWideFloor.width), static_cast<int>(kWideFloor.height)},
                                static_cast<int>(kWideShortestHeight)};
        // The window's title and menus stay out from under the island's
        // closed strip where the screen has room for that.
        sizing.keepClearOf = [this]() -> std::optional<QRect> {
            if (!island || !island->isShown()) return std::nullopt;
            return ui::islandHoverRect(ui::islandRectInPanel(island->panelFrame(), island->islandSize(false)));
        };
        sizing.contentMinimum = [](double aspect) {
            const SizeF minimum = minimumContentSize(aspect);
            return QSize(static_cast<int>(minimum.width), static_cast<int>(minimum.height));
        };
        // On X11 the window manager's frame and its live resizes are asked
        // of the server; its frame comes some time after the window shows,
        // and the window is fitted again into what that frame leaves.
        sizing.pointerHeld = &x11PointerButtonHeld;
        sizing.frameMargins = &x11FrameExtents;
        sizer = std::make_unique<WindowSizer>(*modelSignals, main, sizing);
        frameWatch = X11FrameExtentsWatch::create([this](uint32_t window) {
            QWidget* sized = sizer ? sizer->window() : nullptr;
            if (sized && sized->internalWinId() == window) sizer->frameMayHaveChanged();
        });
        attachSizerOnActivation(*sizer);
        updater = std::make_unique<Updater>(QCoreApplication::applicationVersion(),
                                            [this](const QString& text, std::function<void()> dismissed) {
                                                showUpdateMessage(text, std::move(dismissed));
                                            });
        // The tray icon, shown whenever the desktop has a tray, also one that
        // starts later; its menu in any case, with the same "Notch" settings
        // as the window's gear menu.
        tray = std::make_unique<TrayIcon>(
            *modelSignals, useTray,
            [weak = std::weak_ptr<CameraModel>(modelSignals->sharedModel())](QMenu& menu) {
                if (const auto strong = weak.lock()) fillNotchSettingsMenu(menu, strong);
            });
        // The window manager's word on which click brought a window forward.
        takeFocus = XcbTakeFocusSource::create();
        // The opener is the model's way to open the window again.
        opener = std::make_unique<MainWindowOpener>(*modelSignals, *feed);
        QObject::connect(opener.get(), &MainWindowOpener::windowOpened, opener.get(), [this](MainWindow* window) {
            if (takeFocus) window->surface().watchTakeFocus(*takeFocus);
            // Each window carries the menu bar and with it the commands' keys.
            // Its full-screen item is the window's own action, which the bar and the rail press too.
            window->setMenuBar(
                new CameraMenuBar(*modelSignals, *updater, window->toolActions().fullScreen(), window));
            // The bar sits above the picture, which keeps its first size.
            window->resizeToDefault();
            // The window ends when it is closed: what that means is the close policy's.
            QObject::connect(window, &QObject::destroyed, opener.get(), [this] {
                if (!tearingDown) lifecycle.mainWindowClosed();
            });
        });
        // Logging out asks the session's applications to save their work: quit orderly.
        QObject::connect(qApp, &QGuiApplication::commitDataRequest, opener.get(),
                         [this](QSessionManager&) { lifecycle.quit(); });

        opener->open();
        attachSizerToFirstWindowLater(*sizer, main);
        // The model and its camera are made once, here, and started once.
        model->camera().start();
        model->startTimers();
        // The island comes after the camera and the timers, and stays to the end.
        screens = std::make_unique<ui::QtScreenSource>(notches);
        pointer = std::make_unique<ui::DesktopPointerSource>(main);
        compositor = std::make_unique<ui::CompositorWatch>();
        island = std::make_unique<ui::NotchPanelController>(
            *modelSignals, main,
            ui::NotchPanelController::Platform{*screens, *pointer, compositor->mode(), nullptr, islandFeed.get(),
                                               compositor.get()});
    }

    ~Parts() {
        tearingDown = true;
        markTeardownStep("The windows");
        island.reset();
        compositor.reset();
        pointer.reset();
        screens.reset();
        frameWatch.reset();
        sizer.reset();
        opener.reset();
        tray.reset();
        modelSignals.reset();
    }

    // The update check's answer, over the main window when there is one.
    void showUpdateMessage(const QString& text, std::function<void()> dismissed) {
        MainWindow* window = opener ? opener->window() : nullptr;
        if (!window) {
            opener->open();
            window = opener->window();
        }
        auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Check for Updates"), text,
                                    QMessageBox::Ok, window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(box, &QDialog::finished, box, [dismissed = std::move(dismissed)] { dismissed(); });
        box->open();
    }

    QWidget* fileDialogParent() const { return opener ? opener->window() : nullptr; }

    AppLifecycle::Hooks lifecycleHooks() {
        AppLifecycle::Hooks hooks;
        hooks.bringMainWindowForward = [this] { return opener && opener->bringForward(); };
        hooks.endAttachedSheets = [this] {
            MainWindow* window = opener ? opener->window() : nullptr;
            return window && window->sheets().closeAll();
        };
        // A closed window is gone already; the opener builds a new one.
        hooks.hideMainWindow = [] {};
        // What keeps a closed window's application reachable, as the desktop shows it then.
        hooks.islandAvailable = [this] { return islandOnScreen(island.get()); };
        hooks.trayAvailable = [this] { return trayOnScreen(tray.get()); };
        hooks.relaunch = [] {
            // A new process of this very program, with this environment and
            // word of this process, whose end it waits for.
            QProcess process;
            process.setProgram(QCoreApplication::applicationFilePath());
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QString::fromLatin1(kRelaunchedFromVariable), QString::number(::getpid()));
            process.setProcessEnvironment(environment);
            return process.startDetached();
        };
        // From here on a later start waits for this one to end.
        hooks.terminating = [this] { instance.stopServing(); };
        hooks.exit = [](int code) { QCoreApplication::exit(code); };
        return hooks;
    }

    InstanceLock& instance;
    QtMainExecutor main;
    JsonSettingsStore settings{JsonSettingsStore::defaultPath()};
    LibsecretStore secrets;
    GetrandomSecureRandom random;
    ShownDiskSpace disk;
    FreedesktopDesktop desktop;
    TeardownStep desktopEnds{"The file manager's connection"};
    FreedesktopPowerAssertion power;
    TeardownStep powerEnds{"The screen saver's connection"};
    // The displays, screen capture and sound inputs of this desktop (the
    // DISPLAY and sound server of the environment), connected when first
    // used; the microphone and takes of the screen share the one sound
    // connection.
    hollowkit::RecordingSystem recording = hollowkit::makeLinuxRecordingSystem();
    TeardownStep recordingEnds{"The screen and sound capture"};
    // Before the model, which asks it for files until the model ends.
    QtFilePicker filePicker;
    std::unique_ptr<CameraFactory> cameras;
    TeardownStep camerasEnd{"The cameras"};
    std::shared_ptr<VideoFeed> feed = std::make_shared<VideoFeed>();
    // The island's picture, fed by the model only while the island is open on it.
    std::shared_ptr<VideoFeed> islandFeed = std::make_shared<VideoFeed>();
    AppLifecycle lifecycle;
    std::shared_ptr<CameraModel> model;
    TeardownStep modelEnds{"The camera and the movies and photos still being saved"};
    std::unique_ptr<ModelSignals> modelSignals;
    std::unique_ptr<XcbTakeFocusSource> takeFocus;
    std::unique_ptr<MainWindowOpener> opener;
    std::unique_ptr<WindowSizer> sizer;
    std::unique_ptr<X11FrameExtentsWatch> frameWatch;
    std::unique_ptr<Updater> updater;
    std::unique_ptr<TrayIcon> tray;
    ui::NoNotchSource notches;
    std::unique_ptr<ui::QtScreenSource> screens;
    std::unique_ptr<ui::CompositorWatch> compositor;
    std::unique_ptr<ui::DesktopPointerSource> pointer;
    std::unique_ptr<ui::NotchPanelController> island;
    std::unique_ptr<ui::PopupScreenKeeper> popupKeeper;
    bool tearingDown = false;
    // Signals become quit requests from here on.
    TerminationSignalNotifier signalNotifier{[this](int) { lifecycle.quit(); }};
};

// The display went away under the running application (DisplayLossWatch):
// Qt ends the process with exit(1) as soon as this returns, from inside its
// event loop, and the static destructors would then run under threads
// still at work. So this never returns. The model's shutdown, the one every
// quit runs, finishes the recording, the photos and the camera, the main
// executor's work run here without the event loop; the log says what was
// saved; the parts are torn down as after the event loop, which stops every
// thread of ours that works with OpenCV or FFmpeg and closes its files; and
// the process ends with Qt's status, leaving out the static destructors.
[[noreturn]] void endAfterDisplayLoss(std::unique_ptr<Parts>& parts, std::unique_ptr<RunningApplication>& running) {
    hollowkit::PocketLog::log("The display was lost; finishing what is under way before ending");
    DisplayLossAccount account;
    if (parts && parts->model) {
        CameraModel& model = *parts->model;
        if (const std::optional<hollowkit::WallTime> started = model.state().recordingStarted) {
            account.recordingFor = std::chrono::duration_cast<std::chrono::seconds>(model.clock().wallNow() - *started);
        }
        const CameraModel::ObserverId saved = model.addObserver([&account, &model](Field field) {
            if (field == Field::notice && model.state().notice) account.notices.push_back(*model.state().notice);
            if (field == Field::lastScreenTake && model.state().lastScreenTake) {
                account.take = model.state().lastScreenTake;
            }
        });
        // The windows and their sheets are gone with the display: straight
        // to the termination, as a closed window's quit goes.
        parts->lifecycle.requestTermination();
        account.finished = parts->main.runWithoutEventLoop([&parts] { return parts->lifecycle.hasReplied(); },
                                                           parts->main.clock().now() + kDisplayLostShutdownLimit);
        model.removeObserver(saved);
        account.leftToRebuild = model.leftToRebuild();
    }
    hollowkit::PocketLog::log(describeDisplayLoss(account));
    if (running) running->model.reset();
    {
        TeardownWatch watch(kDisplayLostStatus);
        parts.reset();
    }
    std::fflush(nullptr);
    ::_exit(kDisplayLostStatus);
}

}  // namespace

void prepareApplication(QApplication& app) {
    QApplication::setApplicationName("Lumenhollow");
    QApplication::setOrganizationName("tarvenc");
    QApplication::setApplicationVersion(QStringLiteral(LUMENHOLLOW_VERSION));
    // Ties the windows to the installed launcher (its name and icon in docks
    // and task switchers).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.lumenhollow.Lumenhollow"));
    // The look the reference pictures are taken in; the desktop's theme
    // never shows through.
    ui::applyLook(app);
}

int runApplication(int argc, char** argv, ApplicationOptions options) {
    // First, before any thread exists, so every thread inherits the handlers.
    if (auto installed = TerminationSignals::install(); !installed) {
        std::fprintf(stderr, "lumenhollow: %s\n", installed.error().c_str());
        return 1;
    }
    // While the process has one thread, where starting a program is safe:
    // left to the D-Bus libraries, a missing address is looked for later,
    // from any thread, by a fork that may hang.
    settleSessionBusAddress();
    // A bus that accepts and never answers would hold the first to connect
    // (Qt's tray icon, before the window exists) for good: a start greets it
    // itself, bounded, and a termination signal meanwhile ends the start.
    const SessionBusGreeting session = greetSessionBus(kSessionBusGreetingLimit, TerminationSignals::readFd());
    // Qt's accessibility bridge asks the accessibility bus's launcher and
    // then that bus, each as long as D-Bus lets it: greeted the same way.
    if (session == SessionBusGreeting::interrupted ||
        (session == SessionBusGreeting::answered &&
         greetAccessibilityBus(kSessionBusGreetingLimit, TerminationSignals::readFd()) ==
             SessionBusGreeting::interrupted)) {
        hollowkit::PocketLog::log("Asked to end while waiting for the session bus; not starting");
        return 0;
    }
    // A closed output pipe fails the log's writes instead of ending the
    // program and its recording.
    if (!hollowkit::installBrokenPipeHandler()) std::perror("lumenhollow: SIGPIPE");
    hollowkit::installFfmpegLogging();
    hollowkit::applyMemorySettings();

    // One program per settings folder, or two would save over each other's
    // settings: a later start brings the running one forward and ends.
    const std::filesystem::path settingsFolder = JsonSettingsStore::defaultPath().parent_path();
    UnixInstanceLock::Options instanceOptions;
    // A signal ends a start's wait for the running program.
    instanceOptions.interruptFd = TerminationSignals::readFd();
    UnixInstanceLock instance(settingsFolder, std::move(instanceOptions));
    if (const std::optional<int> status = claimSettingsFolder(instance, settingsFolder, argc, argv)) return *status;
    // Until the event loop can serve a quit request, the tray icon and the
    // accessibility bridge may wait on a desktop service (Qt's blocking
    // D-Bus calls, 25 s each) where nothing reads the signals: a signal then
    // ends the start at once, as it ends a start waiting above. Nothing is
    // recorded before the event loop runs (settings are written whole under
    // a temporary name the next start clears; the lock goes with the
    // process).
    TerminationSignals::endAtOnce(0);
    // Qt's tray icon asks the desktop's tray watcher first, as long as D-Bus
    // lets it: one that never answers costs the tray icon, not the start.
    // Here, where a later start has gone already and a signal ends this one.
    const bool useTray = session != SessionBusGreeting::answered ||
                         greetTrayWatcher(kSessionBusGreetingLimit) != SessionBusGreeting::silent;

    QApplication app(argc, argv);
    prepareApplication(app);
    // Closing the window is decided by the close policy, not by Qt.
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<Parts> parts;
    std::unique_ptr<RunningApplication> running;
    // Qt ends the process by itself when the display goes; the ending is ours.
    const DisplayLossWatch displayLoss([&parts, &running] { endAfterDisplayLoss(parts, running); });
    parts = std::make_unique<Parts>(options, instance, useTray);
    // A later start's request, from the lock's own thread; the window is
    // shown, or opened again, on the main executor.
    instance.serve([main = &parts->main, model = std::weak_ptr<CameraModel>(parts->model)] {
        main->post([model] {
            if (const auto strong = model.lock()) strong->showMainWindow();
        });
    });
    // Lives through the event loop: what `started` posts may still hold it.
    // The window is looked up through the opener each time: the first one
    // goes when it is closed. `running` ends before `parts`.
    const auto openWindow = [&parts]() -> QWidget* {
        return parts && parts->opener ? parts->opener->window() : nullptr;
    };
    running = std::make_unique<RunningApplication>(
        RunningApplication{parts->main, parts->model, openWindow, parts->lifecycle, parts->island.get()});
    if (options.started) options.started(*running);
    // The event loop's first turn: quit requests can be served from here.
    QTimer::singleShot(0, &app, [] { TerminationSignals::servedByEventLoop(); });
    const int status = QApplication::exec();
    // Before the parts its requests reach go.
    instance.stopServing();
    running->model.reset();
    {
        TeardownWatch watch(status);
        parts.reset();
    }
    return status;
}

}  // namespace lumenhollow
