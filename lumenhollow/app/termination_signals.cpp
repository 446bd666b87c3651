#include "lumenhollow/app/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace lumenhollow {
namespace {

std::atomic<int> writeEnd{-1};
std::atomic<int> readEnd{-1};
// The status a signal ends the process with; -1: into the pipe.
std::atomic<int> endingStatus{-1};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr char kEndedAtOnce[] = "lumenhollow: asked to end before the window was shown; not starting\n";

static_assert(SIGTERM == 15 && SIGINT == 2 && SIGHUP == 1);

// Async-signal-safe: only system calls.
[[noreturn]] void endNow(int status) {
    [[maybe_unused]] const ssize_t told = ::write(STDERR_FILENO, kEndedAtOnce, sizeof kEndedAtOnce - 1);
    ::_exit(status);
}

extern "C" void onTerminationSignal(int signal) {
    const int saved = errno;
    if (const int status = endingStatus.load(); status >= 0) endNow(status);
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe drops the byte: a quit request is pending already.
    [[maybe_unused]] const ssize_t written = ::write(writeEnd.load(std::memory_order_relaxed), &byte, 1);
    errno = saved;
}

}  // namespace

hollowkit::Result<void, std::string> TerminationSignals::install() {
    if (readEnd.load() >= 0) return {};
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return hollowkit::unexpected(std::string("pipe2: ") + std::strerror(errno));
    }
    writeEnd.store(fds[1]);
    readEnd.store(fds[0]);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            return hollowkit::unexpected(std::string("sigaction: ") + std::strerror(errno));
        }
    }
    return {};
}

int TerminationSignals::readFd() {
    return readEnd.load();
}

void TerminationSignals::endAtOnce(int status) {
    endingStatus.store(status);
    // One that came before the switch, still unread.
    const int fd = readEnd.load();
    unsigned char pending = 0;
    if (fd >= 0 && ::read(fd, &pending, 1) == 1) endNow(status);
}

void TerminationSignals::servedByEventLoop() {
    endingStatus.store(-1);
}

TerminationSignalNotifier::TerminationSignalNotifier(std::function<void(int signal)> onSignal)
    : onSignal_(std::move(onSignal)) {
    const int fd = TerminationSignals::readFd();
    if (fd < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { drain(); });
}

TerminationSignalNotifier::~TerminationSignalNotifier() = default;

void TerminationSignalNotifier::drain() {
    unsigned char received[16];
    for (;;) {
        const ssize_t n = ::read(TerminationSignals::readFd(), received, sizeof received);
        if (n <= 0) return;  // empty (EAGAIN) or interrupted: the notifier calls again
        for (ssize_t i = 0; i < n; ++i) onSignal_(received[i]);
    }
}

}  // namespace lumenhollow
