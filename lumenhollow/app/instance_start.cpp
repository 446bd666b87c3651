#include "lumenhollow/app/instance_start.h"

#include <unistd.h>

#include <QApplication>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hollowkit/base/pocket_log.h"
#include "lumenhollow/app/application.h"
#include "lumenhollow/app/termination_signals.h"
#include "lumenhollow/ui/shell/instance_refusal.h"

namespace lumenhollow {
namespace {

using hollowkit::PocketLog;

// A plain start gives the running program a few seconds; a relaunch waits
// for its old program's end (InstanceWaits).
constexpr InstanceWaits kInstanceWaits{};

// The relaunching program's id, taken out of the environment so that no
// program this one starts inherits it.
std::optional<int> takeRelaunchedFrom() {
    const char* variable = std::getenv(kRelaunchedFromVariable);
    if (!variable) return std::nullopt;
    const std::string value = variable;
    ::unsetenv(kRelaunchedFromVariable);
    char* end = nullptr;
    const long pid = std::strtol(value.c_str(), &end, 10);
    if (end == value.c_str() || *end != '\0' || pid <= 0 || pid > INT32_MAX) return std::nullopt;
    return static_cast<int>(pid);
}

// Where a window can be shown at all; without one the log says it alone.
bool displayAvailable() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return true;
    }
    return false;
}

// Shows `refusal` until the person closes it or a termination signal comes.
void tell(const InstanceRefusal& refusal, int& argc, char** argv) {
    if (!displayAvailable()) return;
    QApplication app(argc, argv);
    prepareApplication(app);
    InstanceRefusalBox box(refusal);
    const TerminationSignalNotifier signals([&box](int) { box.reject(); });
    box.exec();
}

}  // namespace

std::optional<int> claimSettingsFolder(InstanceLock& lock, const std::filesystem::path& folder, int& argc,
                                       char** argv) {
    const std::optional<int> relaunchedFrom = takeRelaunchedFrom();
    if (relaunchedFrom && !lock.tryTake() && lock.heldBy(*relaunchedFrom)) {
        PocketLog::logf("Waiting for the Lumenhollow that reopens this one (process %d) to end", *relaunchedFrom);
    }
    const InstanceClaim claim = claimInstance(lock, hollowkit::Clock::system(), relaunchedFrom, kInstanceWaits);
    switch (claim) {
    case InstanceClaim::run:
        return std::nullopt;
    case InstanceClaim::handedOver:
        PocketLog::logf("Lumenhollow already runs on %s; it was brought forward", folder.c_str());
        return 0;
    case InstanceClaim::interrupted:
        PocketLog::log("Asked to end while waiting for the Lumenhollow already running; not starting");
        return 0;
    case InstanceClaim::none:
    case InstanceClaim::silent:
    case InstanceClaim::ending:
        break;
    }
    InstanceRefusalFacts facts;
    facts.claim = claim == InstanceClaim::ending ? InstanceClaim::ending : InstanceClaim::silent;
    facts.holderPid = lock.holderPid();
    facts.holderStopped = facts.holderPid && lock.processStopped(*facts.holderPid);
    facts.settingsFolder = folder.string();
    const InstanceRefusal refusal = instanceRefusal(facts);
    PocketLog::logf("%s Not starting. %s", refusal.text.toUtf8().constData(),
                    refusal.detail.simplified().toUtf8().constData());
    tell(refusal, argc, argv);
    return 1;
}

}  // namespace lumenhollow
