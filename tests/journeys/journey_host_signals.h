#pragma once

// The journey programs' signals from the test (a cable pulled, a pairing
// approved, a camera falling silent): blocked in every thread and read from
// a signalfd on the main executor, so no handler does any work and each
// lands between the application's tasks, as the outside world's news would.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <initializer_list>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/unique_fd.h"

namespace lumenhollow::journey {

// Blocks `numbers` and returns a signalfd that reads them; invalid on
// failure. Call before any thread starts, so every thread inherits the mask.
inline hollowkit::UniqueFd blockedSignals(std::initializer_list<int> numbers) {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : numbers) sigaddset(&set, number);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return hollowkit::UniqueFd();
    return hollowkit::UniqueFd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
}

// Every 50 ms on `main`, hands each signal waiting on `fd` to `handle`.
template <typename Handle>
void readSignalsOn(hollowkit::MainExecutor& main, int fd, Handle handle) {
    main.every(std::chrono::milliseconds(50), [fd, handle] {
        signalfd_siginfo info{};
        while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            handle(static_cast<int>(info.ssi_signo));
        }
    });
}

}  // namespace lumenhollow::journey
