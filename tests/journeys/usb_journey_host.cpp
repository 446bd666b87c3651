// lumenhollow-journey-usb: the real application on the USB route, its
// camera a Pocket on a faked USB bus (usb_journey_rig.h), its sound the
// desktop's sound server. A test program, not a product:
//
//   LUMENHOLLOW_DEMO_STATE_FILE=<file> rewrites <file> every 100 ms with what
//                                   the application shows (run_report.h),
//                                   the pose read from the fake camera's
//                                   controls
//   SIGUSR1                         pulls the camera's cable
//
// Nothing here reaches the machine's Bluetooth: the system bus is pointed
// at nothing before anything starts.

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "lumenhollow/app/application.h"
#include "lumenhollow/app/run_report.h"
#include "lumenhollow/ui/island/notch_panel_controller.h"
#include "tests/journeys/usb_journey_rig.h"

int main(int argc, char** argv) {
    // Before any thread: every thread then leaves SIGUSR1 to the signalfd.
    sigset_t unplugSignal;
    sigemptyset(&unplugSignal);
    sigaddset(&unplugSignal, SIGUSR1);
    if (::pthread_sigmask(SIG_BLOCK, &unplugSignal, nullptr) != 0) return 1;
    const int unplugFd = ::signalfd(-1, &unplugSignal, SFD_NONBLOCK | SFD_CLOEXEC);
    if (unplugFd < 0) {
        std::perror("lumenhollow-journey-usb: signalfd");
        return 1;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/lumenhollow-journey-system-bus", 1);
    std::optional<std::string> stateFile;
    if (const char* path = std::getenv("LUMENHOLLOW_DEMO_STATE_FILE")) stateFile = path;

    lumenhollow::journey::UsbJourneyRig rig;
    lumenhollow::ApplicationOptions options;
    options.desktopFileDialogs = false;
    options.makeCameras = [&rig](hollowkit::MainExecutor& main) { return rig.makeCameras(main); };
    options.started = [&](lumenhollow::RunningApplication& app) {
        // Read on the main executor, so the unplug lands between its tasks
        // as the kernel's and udev's news would.
        app.main.every(std::chrono::milliseconds(50), [&rig, unplugFd] {
            signalfd_siginfo received;
            while (::read(unplugFd, &received, sizeof received) == static_cast<ssize_t>(sizeof received)) {
                std::fprintf(stderr, "lumenhollow-journey-usb: the camera is unplugged\n");
                rig.unplug();
            }
        });
        if (!stateFile) return;
        lumenhollow::RunReportSources sources;
        sources.pose = [&rig]() -> std::optional<hollowkit::LensPose> { return rig.pose(); };
        if (lumenhollow::ui::NotchPanelController* island = app.island) {
            sources.islandOpen = [island]() -> std::optional<bool> { return island->state().expanded; };
        }
        lumenhollow::startRunReport(app.main, app.model, *stateFile, std::move(sources));
    };
    const int status = lumenhollow::runApplication(argc, argv, std::move(options));
    ::close(unplugFd);
    return status;
}
