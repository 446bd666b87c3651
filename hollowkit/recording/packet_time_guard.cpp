#include "hollowkit/recording/packet_time_guard.h"

#include <algorithm>
#include <string>

namespace hollowkit {
namespace {

std::string timeText(int64_t time) {
    return time == PacketTimes::kNone ? std::string("none") : std::to_string(time);
}

}  // namespace

std::string toString(const PacketTimes& times) {
    return "pts " + timeText(times.pts) + " dts " + timeText(times.dts) + " duration " +
           std::to_string(times.duration);
}

bool PacketTimeGuard::mend(PacketTimes& times, int64_t earliestDts) {
    const PacketTimes given = times;
    // The step after the previous packet: the least a decode time may be.
    const std::optional<int64_t> next = lastDts_ ? std::optional<int64_t>(*lastDts_ + 1) : std::nullopt;

    if (times.pts == PacketTimes::kNone) {
        times.pts = times.dts != PacketTimes::kNone ? times.dts : next.value_or(0);
    }
    const bool dtsFits = times.dts != PacketTimes::kNone && times.dts <= times.pts &&
                         (next ? times.dts >= *next : times.dts >= earliestDts);
    if (!dtsFits) times.dts = times.pts;
    if (next && times.dts < *next) {
        // A presentation time at or before the previous decode time leaves
        // no room between them: the picture shows a tick later instead.
        times.dts = *next;
        times.pts = std::max(times.pts, times.dts);
    }
    times.duration = std::clamp<int64_t>(times.duration, 0, kMaxDuration);
    lastDts_ = times.dts;
    return times != given;
}

}  // namespace hollowkit
