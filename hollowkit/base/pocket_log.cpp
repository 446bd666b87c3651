#include "hollowkit/base/pocket_log.h"

#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/mutex.h"
#include "hollowkit/base/utf8.h"

#ifdef HOLLOWKIT_HAVE_JOURNALD
#include <systemd/sd-journal.h>
#endif

namespace hollowkit {
namespace {

constexpr const char* kIdentifier = "lumenhollow";

class StandardLogSink final : public LogSink {
public:
    StandardLogSink() {
#ifdef HOLLOWKIT_HAVE_JOURNALD
        // Linked against libsystemd but possibly running where journald does
        // not (containers, other init systems): then syslog takes the lines.
        useJournal_ = ::access("/run/systemd/journal/socket", F_OK) == 0;
#endif
        if (!useJournal_) ::openlog(kIdentifier, LOG_PID, LOG_USER);
    }

    void writeConsole(std::string_view line) override {
        // A standard output that failed once (its pipe's reader gone, a
        // closed descriptor, a full disk) is left alone from then on: the
        // lines still reach the system log, and no later line waits on it
        // or tries it again.
        if (consoleFailed_.load(std::memory_order_relaxed)) return;
        // One locked stdio sequence, flushed at once so the line survives the
        // process being killed right after, and stays in order with any other
        // stdio output of the process.
        ::flockfile(stdout);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::putc('\n', stdout);
        std::fflush(stdout);
        const bool failed = std::ferror(stdout) != 0;
        ::funlockfile(stdout);
        if (failed) consoleFailed_.store(true, std::memory_order_relaxed);
    }

    void writeSystem(std::string_view message) override {
        const int length = static_cast<int>(message.size());
#ifdef HOLLOWKIT_HAVE_JOURNALD
        if (useJournal_) {
            int rc = sd_journal_send("MESSAGE=%.*s", length, message.data(),
                                     "PRIORITY=%i", LOG_INFO,
                                     "SYSLOG_IDENTIFIER=%s", kIdentifier,
                                     "LUMENHOLLOW_SUBSYSTEM=com.tarvenc.lumenhollow",
                                     "LUMENHOLLOW_CATEGORY=HollowKit",
                                     nullptr);
            if (rc >= 0) return;
        }
#endif
        ::syslog(LOG_INFO, "%.*s", length, message.data());
    }

private:
    bool useJournal_ = false;
    std::atomic<bool> consoleFailed_{false};
};

struct LogState {
    Mutex mutex;
    LogSink* sink HK_GUARDED_BY(mutex) = nullptr;         // nullptr: standard sink
    const Clock* clock HK_GUARDED_BY(mutex) = nullptr;    // nullptr: system clock
    std::optional<TimePoint> start HK_GUARDED_BY(mutex);  // fixed by the first line
};

LogState& state() {
    static LogState instance;
    return instance;
}

void writeLine(std::string_view text) {
    // Lines carry outside text (network names, device names, tool and codec
    // output, camera texts): a line break or terminal escape in it must not
    // forge a line or reach a terminal, in either destination.
    const std::string escaped = escapeForLog(text);
    const std::string_view message = escaped;
    LogState& s = state();
    MutexLock lock(s.mutex);
    LogSink& sink = s.sink ? *s.sink : PocketLog::standardSink();
    sink.writeSystem(message);

    const Clock& clock = s.clock ? *s.clock : Clock::system();
    const TimePoint now = clock.now();
    if (!s.start) s.start = now;
    const double seconds = Seconds(now - *s.start).count();

    char prefix[64];
    int prefixLength = std::snprintf(prefix, sizeof prefix, "[%7.2f] ", seconds);
    if (prefixLength < 0) prefixLength = 0;
    if (prefixLength >= int(sizeof prefix)) prefixLength = int(sizeof prefix) - 1;

    std::string line;
    line.reserve(size_t(prefixLength) + message.size());
    line.append(prefix, size_t(prefixLength));
    line.append(message);
    sink.writeConsole(line);
}

}  // namespace

void PocketLog::log(std::string_view message) {
    writeLine(message);
}

void PocketLog::logf(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        writeLine(format);
        return;
    }
    if (size_t(length) < sizeof buffer) {
        va_end(again);
        writeLine(std::string_view(buffer, size_t(length)));
        return;
    }
    std::string text(size_t(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    writeLine(text);
}

LogSink& PocketLog::standardSink() {
    static StandardLogSink sink;
    return sink;
}

void PocketLog::setSinkForTesting(LogSink* sink) {
    LogState& s = state();
    MutexLock lock(s.mutex);
    s.sink = sink;
}

void PocketLog::resetForTesting(const Clock* clock) {
    LogState& s = state();
    MutexLock lock(s.mutex);
    s.clock = clock;
    s.start.reset();
}

}  // namespace hollowkit
