#include "hollowkit/media/ffmpeg_log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/pocket_log.h"

extern "C" {
#include <libavutil/log.h>
}

namespace hollowkit {
namespace {

std::atomic<const Clock*> logClock{&Clock::system()};

// The rate limit, shared by every thread FFmpeg logs from.
struct RateWindow {
    Mutex mutex;
    TimePoint start HK_GUARDED_BY(mutex) = kDistantPast;
    int lines HK_GUARDED_BY(mutex) = 0;
    int dropped HK_GUARDED_BY(mutex) = 0;
};

RateWindow& rateWindow() {
    static RateWindow window;
    return window;
}

// The unfinished line of this thread: FFmpeg prints a line in pieces
// ("Qavg: %.3f" then "\n") and several codec threads log at once, so a
// line is kept per thread together with the context it belongs to.
struct PendingLine {
    const void* context = nullptr;
    int level = AV_LOG_QUIET;
    std::string name;
    std::string text;
};

thread_local PendingLine pending;

void emit(int level, const std::string& name, std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
    if (text.empty()) return;
    int dropped = 0;
    {
        RateWindow& window = rateWindow();
        const TimePoint now = logClock.load()->now();
        MutexLock lock(window.mutex);
        if (window.start == kDistantPast || now - window.start >= std::chrono::seconds(1)) {
            dropped = window.dropped;
            window.start = now;
            window.lines = 0;
            window.dropped = 0;
        }
        if (window.lines >= kFfmpegLogLinesPerSecond) {
            ++window.dropped;
            return;
        }
        ++window.lines;
    }
    if (dropped > 0) PocketLog::logf("FFmpeg: %d more lines were left out", dropped);
    std::string line = level <= AV_LOG_ERROR ? "FFmpeg error " : "FFmpeg warning ";
    if (!name.empty()) line.append("[").append(name).append("] ");
    line.append(text);
    PocketLog::log(line);
}

void flushPending() {
    if (!pending.text.empty()) emit(pending.level, pending.name, pending.text);
    pending.text.clear();
    pending.context = nullptr;
}

// FFmpeg's own format strings; the attribute lets the compiler check the
// vsnprintf below against them.
[[gnu::format(printf, 3, 0)]] void forward(void* context, int level, const char* format, va_list args) {
    level &= 0xff;  // the upper bits carry colour hints
    if (level > AV_LOG_WARNING || level < 0) return;

    char piece[1024];
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(piece, sizeof piece, format, copy);
    va_end(copy);
    if (length <= 0) return;
    // A longer piece is cut; its line still ends.
    std::string_view text(piece, std::min<size_t>(static_cast<size_t>(length), sizeof piece - 1));

    if (pending.context != context || pending.text.empty()) {
        flushPending();
        pending.context = context;
        pending.level = level;
        pending.name.clear();
        const AVClass* avClass = context ? *static_cast<const AVClass* const*>(context) : nullptr;
        if (avClass && avClass->item_name) pending.name = avClass->item_name(context);
    }
    pending.level = std::min(pending.level, level);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            pending.text.append(text);
            break;
        }
        pending.text.append(text.substr(0, end));
        emit(pending.level, pending.name, pending.text);
        pending.text.clear();
        pending.level = level;
        text.remove_prefix(end + 1);
    }
    if (length >= static_cast<int>(sizeof piece) && !pending.text.empty()) flushPending();
}

}  // namespace

void installFfmpegLogging(const Clock& clock) {
    logClock.store(&clock);
    {
        RateWindow& window = rateWindow();
        MutexLock lock(window.mutex);
        window.start = kDistantPast;
        window.lines = 0;
        window.dropped = 0;
    }
    av_log_set_level(AV_LOG_WARNING);
    av_log_set_callback(forward);
}

}  // namespace hollowkit
