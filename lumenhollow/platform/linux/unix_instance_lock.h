#pragma once

// UnixInstanceLock: InstanceLock over an flock'ed "instance.lock" in the
// settings folder, and a Unix socket on which the holder listens from the
// moment it takes the lock, answering on a thread of its own
// ("Lumenhollow.Instance"), so a program still starting answers at once.
// The socket lives where only this user can make it: in the user's runtime
// folder when that is the user's own (owned, mode 0700), named after the
// lock file's device and inode (so two paths to one folder, through a link
// or a bind mount, meet), else beside the lock; it is made mode 0600, and
// both ends check that the other runs as this user. Where the usual name is
// taken by what the holder must not remove (a folder, a file, another's
// live socket), it listens at a name carrying its process id. The holder
// writes into the lock file its process id and where it listens, so a start
// that knows another runtime folder, or none, still reaches it; and, once
// it stops serving, that it ends: a start says a holder is ending only when
// it said so. A start believes the process id only once the lock says it
// holds it (/proc/locks), and talks only to a socket whose peer is this
// user's holder of the lock. A start takes a lock file only while it is at
// its path: one moved away after its opening is opened again.
// A folder where no lock file can be made or locked (read-only, a file
// system without locks) is logged once and runs unguarded, as the program
// did before.
//
// The holder watches its lock file's path while it serves (the settings
// folder through inotify, and a look at the path every `lockCheck` for what
// inotify cannot see, such as a parent folder moved): when the folder or the
// lock file is removed, moved or replaced, it makes the folder and a lock
// file there again, takes it and listens on a socket named after the new
// file, so a later start still meets it; it lets go of the old one, which
// no longer guards its settings. When another program took the new lock
// file first, it says so in the log and goes on. It watches its socket's
// folder the same way, and listens again when its socket file is removed or
// replaced (or, listening nowhere, at each look).
//
// The lock is kept until destruction. Every descriptor is close-on-exec, so
// a program this one starts (its relaunch) never holds the lock for it.
// The holder's thread answers one request at a time, each bounded in time,
// and ends at once on stopServing(), whatever a client does. A start's
// waits end at once when the interrupt descriptor becomes readable.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lumenhollow/platform/instance_lock.h"

namespace lumenhollow {

class UnixInstanceLock final : public InstanceLock {
public:
    struct Options {
        // The user's runtime folders, in the order looked at (the holder
        // listens in the first that is the user's alone; an empty path
        // stands for none); none: $XDG_RUNTIME_DIR, then /run/user/<uid>,
        // where the system makes it, for a start whose session lacks the
        // variable.
        std::optional<std::vector<std::filesystem::path>> runtimeFolders;
        // How long the holder waits for the bytes of a client that connected.
        std::chrono::milliseconds requestLimit{2000};
        std::chrono::milliseconds pause{100};
        // Borrowed; once readable, every wait of a start ends (the
        // termination signals' pipe). -1: none.
        int interruptFd = -1;
        // Runs on the holder's thread as it begins to wait for a connected
        // client's request (tests hold it there).
        std::function<void()> waitingForRequest;
        // How often the holder looks whether its lock file is still at its
        // path, besides the folder's inotify events.
        std::chrono::milliseconds lockCheck{2000};
        // Run on the holder's thread once it finds its lock file gone from
        // its path, before it makes a new one; and once it has tried, with
        // whether it holds the new one (tests wait for it, or take the path
        // in between).
        std::function<void()> lockGone;
        std::function<void(bool held)> lockRemade;
        // Run on the holder's thread once it found its socket gone from its
        // path and tried to listen again, with whether it listens.
        std::function<void(bool listening)> relistened;
    };

    explicit UnixInstanceLock(std::filesystem::path folder) : UnixInstanceLock(std::move(folder), Options{}) {}
    UnixInstanceLock(std::filesystem::path folder, Options options);
    ~UnixInstanceLock() override;
    UnixInstanceLock(const UnixInstanceLock&) = delete;
    UnixInstanceLock& operator=(const UnixInstanceLock&) = delete;

    bool tryTake() override;
    HolderReply askHolderToComeForward(hollowkit::Duration limit) override;
    std::optional<int> holderPid() const override;
    bool heldBy(int pid) const override;
    bool processRunning(int pid) const override;
    bool processStopped(int pid) const override;
    bool pause() override;
    void serve(std::function<void()> comeForward) override;
    void stopServing() override;

    // Where this holder listens, or where a holder of this folder's lock
    // would listen first; none before the lock file is open.
    std::optional<std::filesystem::path> socketPath() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace lumenhollow
