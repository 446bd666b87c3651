#pragma once

// PacketTimeGuard: the last word on one track's packet times before the
// muxer sees them, in the track's own time base. Encoders are trusted with
// the order of decoding but not always with its numbers: x265 gives the
// pictures of a stream that ends within its B-frame delay (two pictures or
// fewer) a decode time computed from a field it never set, so a movie
// stopped just after its first picture carried whatever the heap held there,
// and QuickTime's muxer then logged nonsense durations or aborted the
// process. A packet leaves here with a presentation time, a decode time not
// after it and later than the track's previous one, and a duration a
// QuickTime sample can hold; times that already fit are kept as they are.
//
// Owned by one movie writer; used on its thread only.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace hollowkit {

struct PacketTimes {
    // No time; the value of FFmpeg's AV_NOPTS_VALUE.
    static constexpr int64_t kNone = std::numeric_limits<int64_t>::min();

    int64_t pts = kNone;
    int64_t dts = kNone;
    int64_t duration = 0;

    bool operator==(const PacketTimes&) const = default;
};

// "pts 0 dts none duration 3000": for logs. A missing time reads "none",
// never as the number that stands for it.
std::string toString(const PacketTimes& times);

class PacketTimeGuard {
public:
    // The longest duration a QuickTime sample's 32-bit field holds.
    static constexpr int64_t kMaxDuration = std::numeric_limits<int32_t>::max();

    // Makes `times` fit after the packets mended before. A decode time
    // that is missing, after its presentation, not later than the previous
    // one, or (for the first packet) before `earliestDts` is taken as
    // nonsense and replaced by the presentation time, which is what it is
    // without reordering, or by the smallest step after the previous one.
    // True when anything was changed.
    bool mend(PacketTimes& times, int64_t earliestDts = PacketTimes::kNone);

    // The decode time of the last packet mended.
    std::optional<int64_t> lastDts() const { return lastDts_; }

private:
    std::optional<int64_t> lastDts_;
};

}  // namespace hollowkit
