#pragma once

// PocketLog: the library's one process-wide log. Each line goes to standard
// output as "[%7.2f] message" (seconds since the first line, flushed at once)
// and, without that prefix, to the system log at info level: journald when it
// runs, syslog otherwise. Any thread; every call writes one whole line to
// each destination. A standard output that cannot be written (a closed pipe:
// see broken_pipe.h) is given up at its first failed line; the system log
// goes on. Only the library logs; the application does not.
// Messages are written escaped (escapeForLog): control characters and bytes
// that are not UTF-8 appear as \n, \xNN ..., so text from outside can neither
// break a line nor send a terminal sequence.

#include <string_view>

namespace hollowkit {

class Clock;

// Where formatted lines go. The standard sink writes to stdout and the system
// log; tests install their own to capture both forms.
class LogSink {
public:
    virtual ~LogSink() = default;

    // `line` carries the bracketed prefix and no line end.
    virtual void writeConsole(std::string_view line) = 0;
    // `message` is the caller's text alone.
    virtual void writeSystem(std::string_view message) = 0;
};

class PocketLog {
public:
    PocketLog() = delete;

    static void log(std::string_view message);
    [[gnu::format(printf, 1, 2)]] static void logf(const char* format, ...);

    // The sink used when no test sink is installed.
    static LogSink& standardSink();

    // Test seams. Calls to log() are serialised with these, but tests should
    // still install and remove them while no other thread logs.
    // nullptr restores the standard sink; the sink must outlive its use.
    static void setSinkForTesting(LogSink* sink);
    // Forgets the start moment (the next line reads 0.00) and measures time
    // with `clock` (nullptr: the system clock). The clock must outlive its use.
    static void resetForTesting(const Clock* clock);
};

}  // namespace hollowkit
