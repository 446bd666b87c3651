// lumenhollow-journey-wireless: the real application on its wireless route
// for the journeys, against the world outside it made of fakes
// (WirelessJourneyRig): a fake BlueZ on a private bus, a fake nmcli, and the
// simulated Pocket on loopback. No Pocket on USB, so it starts wireless.
//
// The state report (LUMENHOLLOW_DEMO_STATE_FILE, as lumenhollow-demo writes
// it) carries the simulated camera's own record under "simulator". Two
// signals stand for what the user does to the camera:
//   SIGUSR1  approves the pairing on the camera's screen
//   SIGUSR2  the camera falls silent (stops answering and streaming);
//            sent again, the camera answers again
//   SIGRTMIN the camera is left on another Wi-Fi network and refuses to
//            come back to its own, so connecting to it fails; sent again,
//            it is turned off and on and is back on its own
//   SIGRTMIN+1 with LUMENHOLLOW_JOURNEY_BLUEZ_LATER=1 (a bus without BlueZ,
//            as on a machine without Bluetooth): BlueZ starts
// All are blocked in every thread and read from a signalfd on the main
// executor, so no handler does any work.
//
// LUMENHOLLOW_JOURNEY_BUS=<address> is the private D-Bus bus the fake BlueZ
// serves on; without it the program starts one of its own.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/standard_streams.h"
#include "lumenhollow/app/application.h"
#include "lumenhollow/app/run_report.h"
#include "tests/journeys/journey_host_signals.h"
#include "tests/journeys/wireless_journey_rig.h"

int main(int argc, char** argv) {
    hollowkit::openClosedStandardStreams();
    const hollowkit::UniqueFd signals = lumenhollow::journey::blockedSignals({SIGUSR1, SIGUSR2, SIGRTMIN, SIGRTMIN + 1});
    if (!signals.valid()) return 1;

    const std::optional<std::string> stateFile = lumenhollow::takeEnvironment("LUMENHOLLOW_DEMO_STATE_FILE");
    const bool bluezLater =
        lumenhollow::takeEnvironment("LUMENHOLLOW_JOURNEY_BLUEZ_LATER") == std::optional<std::string>("1");
    auto prepared = lumenhollow::journey::WirelessJourneyRig::prepare(
        lumenhollow::takeEnvironment("LUMENHOLLOW_JOURNEY_BUS"), bluezLater);
    if (!prepared.has_value()) {
        std::fprintf(stderr, "wireless journey: %s\n", prepared.error().c_str());
        return 1;
    }
    std::unique_ptr<lumenhollow::journey::WirelessJourneyRig> rig = std::move(prepared.value());

    lumenhollow::ApplicationOptions options;
    options.desktopFileDialogs = false;
    options.makeCameras = [&rig](hollowkit::MainExecutor& main) { return rig->makeCameras(main); };
    options.started = [&](lumenhollow::RunningApplication& app) {
        lumenhollow::journey::readSignalsOn(app.main, signals.get(), [&rig](int number) {
            if (number == SIGUSR1) {
                std::fprintf(stderr, "wireless journey: the pairing is approved on the camera\n");
                rig->approvePairing();
            } else if (number == SIGUSR2) {
                std::fprintf(stderr, "wireless journey: the camera falls silent, or answers again\n");
                rig->toggleSilence();
            } else if (number == SIGRTMIN) {
                std::fprintf(stderr, "wireless journey: the camera is left on another network, or back\n");
                rig->toggleOnAnotherNetwork();
            } else if (number == SIGRTMIN + 1) {
                std::fprintf(stderr, "wireless journey: BlueZ starts\n");
                rig->startBluez();
            }
        });
        if (stateFile) {
            lumenhollow::RunReportSources sources;
            sources.simulator = [&rig] { return rig->record().dump(); };
            lumenhollow::addIslandSources(sources, app.island);
            lumenhollow::startRunReport(app.main, app.model, *stateFile, std::move(sources));
        }
    };
    return lumenhollow::runApplication(argc, argv, std::move(options));
}
