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
// Both are blocked in every thread and read from a signalfd on the main
// executor, so no handler does any work.
//
// LUMENHOLLOW_JOURNEY_BUS=<address> is the private D-Bus bus the fake BlueZ
// serves on; without it the program starts one of its own.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "hollowkit/base/unique_fd.h"
#include "lumenhollow/app/application.h"
#include "lumenhollow/app/run_report.h"
#include "tests/journeys/wireless_journey_rig.h"

namespace {

std::optional<std::string> takeEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    std::string taken = value;
    ::unsetenv(name);
    return taken;
}

// Reads every signal waiting on `fd` and acts on it.
void drainSignals(int fd, lumenhollow::journey::WirelessJourneyRig& rig) {
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1) {
            std::fprintf(stderr, "wireless journey: the pairing is approved on the camera\n");
            rig.approvePairing();
        } else if (info.ssi_signo == SIGUSR2) {
            std::fprintf(stderr, "wireless journey: the camera falls silent, or answers again\n");
            rig.toggleSilence();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so every thread inherits the mask.
    sigset_t userSignals;
    sigemptyset(&userSignals);
    sigaddset(&userSignals, SIGUSR1);
    sigaddset(&userSignals, SIGUSR2);
    if (::sigprocmask(SIG_BLOCK, &userSignals, nullptr) != 0) return 1;
    hollowkit::UniqueFd signals(::signalfd(-1, &userSignals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals.valid()) return 1;

    const std::optional<std::string> stateFile = takeEnvironment("LUMENHOLLOW_DEMO_STATE_FILE");
    auto prepared = lumenhollow::journey::WirelessJourneyRig::prepare(takeEnvironment("LUMENHOLLOW_JOURNEY_BUS"));
    if (!prepared.has_value()) {
        std::fprintf(stderr, "wireless journey: %s\n", prepared.error().c_str());
        return 1;
    }
    std::unique_ptr<lumenhollow::journey::WirelessJourneyRig> rig = std::move(prepared.value());

    lumenhollow::ApplicationOptions options;
    options.desktopFileDialogs = false;
    options.makeCameras = [&rig](hollowkit::MainExecutor& main) { return rig->makeCameras(main); };
    options.started = [&](lumenhollow::RunningApplication& app) {
        app.main.every(std::chrono::milliseconds(50), [&rig, fd = signals.get()] { drainSignals(fd, *rig); });
        if (stateFile) {
            lumenhollow::RunReportSources sources;
            sources.simulator = [&rig] { return rig->record().dump(); };
            lumenhollow::startRunReport(app.main, app.model, *stateFile, std::move(sources));
        }
    };
    return lumenhollow::runApplication(argc, argv, std::move(options));
}
