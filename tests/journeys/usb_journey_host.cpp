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

#include <stdlib.h>

#include <cstdio>
#include <optional>
#include <string>

#include "hollowkit/base/standard_streams.h"
#include "lumenhollow/app/application.h"
#include "lumenhollow/app/run_report.h"
#include "tests/journeys/journey_host_signals.h"
#include "tests/journeys/usb_journey_rig.h"

int main(int argc, char** argv) {
    hollowkit::openClosedStandardStreams();
    const hollowkit::UniqueFd unplugSignal = lumenhollow::journey::blockedSignals({SIGUSR1});
    if (!unplugSignal.valid()) {
        std::perror("lumenhollow-journey-usb: signalfd");
        return 1;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/lumenhollow-journey-system-bus", 1);
    const std::optional<std::string> stateFile = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_STATE_FILE");

    lumenhollow::journey::UsbJourneyRig rig;
    lumenhollow::ApplicationOptions options;
    options.desktopFileDialogs = false;
    options.makeCameras = [&rig](hollowkit::MainExecutor& main) { return rig.makeCameras(main); };
    options.started = [&](lumenhollow::RunningApplication& app) {
        lumenhollow::journey::readSignalsOn(app.main, unplugSignal.get(), [&rig](int) {
            std::fprintf(stderr, "lumenhollow-journey-usb: the camera is unplugged\n");
            rig.unplug();
        });
        if (!stateFile) return;
        lumenhollow::RunReportSources sources;
        sources.pose = [&rig]() -> std::optional<hollowkit::LensPose> { return rig.pose(); };
        lumenhollow::addIslandSources(sources, app.island);
        lumenhollow::startRunReport(app.main, app.model, *stateFile, std::move(sources));
    };
    return lumenhollow::runApplication(argc, argv, std::move(options));
}
