#pragma once

// TerminationSignals: SIGTERM, SIGINT and SIGHUP as quit requests. A
// handler (never SIG_IGN, which every child process would inherit across
// exec) writes the signal's number into a pipe; a QSocketNotifier reads it
// on the GUI thread and hands it on, so nothing but write() runs in the
// handler and the process never dies of these signals by themselves.
//
// install() once, first thing in main, before any thread exists; then one
// TerminationSignalNotifier on the GUI thread once the QApplication exists.
//
// Between a start's claim of its settings and the event loop's first turn
// nothing reads the pipe, and what runs there may wait on a desktop service
// (Qt's tray icon and accessibility bridge make blocking D-Bus calls on the
// main thread): endAtOnce() makes the handler itself end the process then,
// and servedByEventLoop() hands the signals back to the pipe.

#include <functional>
#include <memory>
#include <string>

#include "hollowkit/base/result.h"

class QSocketNotifier;

namespace lumenhollow {

class TerminationSignals {
public:
    // The signals that ask the application to quit.
    static constexpr int kSignals[] = {15 /* SIGTERM */, 2 /* SIGINT */, 1 /* SIGHUP */};

    // Creates the pipe and sets the handlers. A second call does nothing.
    static hollowkit::Result<void, std::string> install();
    // The pipe's read end; -1 before install().
    static int readFd();
    // From now on a signal ends the process at once with `status` (_exit,
    // nothing of ours run): for a start that has recorded nothing yet. A
    // signal already waiting in the pipe ends it here.
    static void endAtOnce(int status);
    // Signals are quit requests through the pipe again.
    static void servedByEventLoop();
};

class TerminationSignalNotifier {
public:
    // `onSignal` runs on the GUI thread with the number of each signal received.
    explicit TerminationSignalNotifier(std::function<void(int signal)> onSignal);
    ~TerminationSignalNotifier();
    TerminationSignalNotifier(const TerminationSignalNotifier&) = delete;
    TerminationSignalNotifier& operator=(const TerminationSignalNotifier&) = delete;

private:
    void drain();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace lumenhollow
