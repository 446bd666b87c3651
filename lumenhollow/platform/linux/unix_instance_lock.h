#pragma once

// UnixInstanceLock: InstanceLock over an flock'ed "instance.lock" in the
// settings folder, and a Unix socket in the abstract namespace named after
// this user and the folder, on which the holder listens while it serves. It
// needs no session bus, no runtime folder and leaves nothing behind: the
// kernel drops the lock and the name with the process. Both ends check
// that the other runs as this user. A folder where no lock file can be made
// or locked (read-only, a file system without locks) is logged once and
// runs unguarded, as the program did before.
//
// The lock is kept until destruction. Every descriptor is close-on-exec, so
// a program this one starts (its relaunch) never holds the lock for it.
// serve() starts one thread ("Lumenhollow.Instance") that answers the
// requests one at a time, each bounded in time.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "lumenhollow/platform/instance_lock.h"

namespace lumenhollow {

class UnixInstanceLock final : public InstanceLock {
public:
    struct Options {
        // How long a request waits for the holder's answer: a holder still
        // starting answers once its window is made.
        std::chrono::milliseconds answerLimit{10'000};
        std::chrono::milliseconds pause{100};
    };

    explicit UnixInstanceLock(std::filesystem::path folder) : UnixInstanceLock(std::move(folder), Options{}) {}
    UnixInstanceLock(std::filesystem::path folder, Options options);
    ~UnixInstanceLock() override;
    UnixInstanceLock(const UnixInstanceLock&) = delete;
    UnixInstanceLock& operator=(const UnixInstanceLock&) = delete;

    bool tryTake() override;
    bool askHolderToComeForward() override;
    bool processRunning(int pid) const override;
    void pause() override;
    void serve(std::function<void()> comeForward) override;
    void stopServing() override;

    // The socket's name in the abstract namespace (without its leading NUL).
    const std::string& socketName() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace lumenhollow
