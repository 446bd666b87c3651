#pragma once

// InstanceLock: one running program per settings folder, and the way a later
// start reaches it. Whoever holds the lock is the running program and
// answers later starts' requests to bring its window forward; the lock goes
// with the process, however it ends. Two programs on one folder would each
// save over the other's settings.
//
// claimInstance() decides a start from it. Calls before serve() come from
// the main thread while the program starts; the come-forward handler runs
// on a thread of the backend's own.

#include <functional>
#include <optional>

#include "hollowkit/base/clock.h"

namespace lumenhollow {

class InstanceLock {
public:
    virtual ~InstanceLock() = default;

    // Takes the lock without waiting; true when this process holds it now,
    // or when no lock can be had in that folder at all (then nothing guards
    // the settings, as before, and the log says so). A later start's request
    // made once the lock is held waits for serve().
    virtual bool tryTake() = 0;
    // Asks whoever holds the lock to bring its window forward; true once it
    // said it will, false when nothing answered.
    virtual bool askHolderToComeForward() = 0;
    // Whether the process `pid` still runs.
    virtual bool processRunning(int pid) const = 0;
    // Waits a moment before the next try (a tenth of a second).
    virtual void pause() = 0;

    // While the lock is held: `comeForward` for each later start's request,
    // until stopServing(). Once.
    virtual void serve(std::function<void()> comeForward) = 0;
    // The program is ending: later starts are no longer answered and wait
    // for the lock instead. Returns once no call of `comeForward` runs;
    // idempotent.
    virtual void stopServing() = 0;
};

enum class InstanceClaim {
    none,
    run,         // this process holds the lock: start
    handedOver,  // the running program comes forward: end, successfully
    busy,        // the lock stayed held and nothing answered: end with a failure
};

// Until the lock is taken or handed over: tries the lock, and else asks its
// holder to come forward, pausing between rounds, for at most `wait`.
// `relaunchedFrom` is the program whose "Quit and Reopen" started this one:
// while it runs this one never hands over to it (it is ending) and waits
// for its lock.
InstanceClaim claimInstance(InstanceLock& lock, const hollowkit::Clock& clock, std::optional<int> relaunchedFrom,
                            hollowkit::Duration wait);

}  // namespace lumenhollow
