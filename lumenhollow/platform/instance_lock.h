#pragma once

// InstanceLock: one running program per settings folder, and the way a later
// start reaches it. Whoever holds the lock is the running program and
// answers later starts' requests to bring its window forward, from the
// moment it takes the lock (a request that comes before its window exists
// is kept for serve()); the lock goes with the process, however it ends.
// Two programs on one folder would each save over the other's settings.
//
// claimInstance() decides a start from it. Calls before serve() come from
// the main thread while the program starts; the come-forward handler runs
// on a thread of the backend's own.

#include <functional>
#include <optional>

#include "hollowkit/base/clock.h"

namespace lumenhollow {

// What the lock's holder said to a request to come forward.
enum class HolderReply {
    none,
    cameForward,  // it said it will
    refused,      // the holder said it is ending, or closed the request unanswered
    unreachable,  // nothing of the holder listens where a start looks, and it did not say it ends (it may
                  // only just have taken the lock)
    silent,       // the request was taken, or could not be queued, and no answer came in time
    interrupted,  // a termination signal came while waiting
};

class InstanceLock {
public:
    virtual ~InstanceLock() = default;

    // Takes the lock without waiting; true when this process holds it now,
    // or when no lock can be had in that folder at all (then nothing guards
    // the settings, as before, and the log says so). Once it is held, later
    // starts' requests are answered.
    virtual bool tryTake() = 0;
    // Asks whoever holds the lock to bring its window forward, waiting at
    // most `limit` for its answer.
    virtual HolderReply askHolderToComeForward(hollowkit::Duration limit) = 0;
    // The process holding the lock, as the lock tells it (or, where it
    // cannot, as its answer did); never a number only written in a file.
    // None when not known.
    virtual std::optional<int> holderPid() const = 0;
    // Whether process `pid` holds the lock now.
    virtual bool heldBy(int pid) const = 0;
    // Whether the process `pid` still runs, and whether it is stopped (by
    // SIGSTOP or a debugger): a stopped process runs, but answers nothing.
    virtual bool processRunning(int pid) const = 0;
    virtual bool processStopped(int pid) const = 0;
    // Waits a moment before the next try (a tenth of a second); false when
    // a termination signal came instead.
    virtual bool pause() = 0;

    // While the lock is held: `comeForward` for each later start's request
    // (and once at once for those that came before), until stopServing().
    // Once.
    virtual void serve(std::function<void()> comeForward) = 0;
    // The program is ending: later starts are refused and wait for the lock
    // instead. Returns once no call of `comeForward` runs, without waiting
    // for any client; idempotent.
    virtual void stopServing() = 0;
};

enum class InstanceClaim {
    none,
    run,          // this process holds the lock: start
    handedOver,   // the running program comes forward: end, successfully
    silent,       // a program holds the lock and does not answer: tell the person, end with a failure
    ending,       // the program holding the lock is ending and did not let go in time: the same
    interrupted,  // a termination signal came while waiting: end at once
};

struct InstanceWaits {
    // How long a start waits for the running program's answer, or for an
    // ending one to let go of the lock. The holder answers from a thread of
    // its own from the moment it has the lock, so only a program that does
    // not run (stopped, hung) takes longer.
    hollowkit::Duration answer = std::chrono::seconds(5);
    // How long a relaunched start waits for the program that relaunched it
    // to end: it first finishes its recording and stops its camera (at most
    // 33 s), writes the photos asked for before the quit (at most 60 s),
    // then tears down.
    hollowkit::Duration relaunch = std::chrono::seconds(120);
};

// Until the lock is taken or handed over: tries the lock, and else asks its
// holder to come forward, pausing between rounds. `relaunchedFrom` is the
// program whose "Quit and Reopen" started this one: while it runs this one
// never asks it (it is ending) and waits for its lock, for at most
// `waits.relaunch`, as long as it holds the lock; from then on (at once for
// a plain start, or one whose relauncher does not hold the lock) the holder
// gets `waits.answer` in all: one that cannot be reached is told as one that
// does not answer, and only one that said so as ending. A termination
// signal ends any wait at once.
InstanceClaim claimInstance(InstanceLock& lock, const hollowkit::Clock& clock, std::optional<int> relaunchedFrom,
                            const InstanceWaits& waits);

}  // namespace lumenhollow
