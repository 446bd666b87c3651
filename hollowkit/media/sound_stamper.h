#pragma once

// SoundStamper: the times of a sound stream's blocks on CLOCK_MONOTONIC,
// from the frames counted and the moments they came. The first block is
// stamped by its coming (its newest frame was recorded then), later ones
// by counting frames, so blocks join exactly. The count is taken again
// after lost data (an overflow), and moved on when every block of a while
// came late by more than a bound (a slow sound card clock, a stall).
//
// A block's time never goes back: it starts where the previous one ended
// or later (a hole is a gap, never an overlap). A block that would end
// more than `aheadLimit` after it came (a sound card clock a little fast,
// a first block that came late) loses the frames at its front that lie
// past that; nothing is recorded in the future.
//
// Plain value logic: no clock of its own, one owner, not thread-safe.

#include <chrono>
#include <cstdint>
#include <optional>

#include "hollowkit/base/clock.h"

namespace hollowkit {

// `frames` at `rate` as a duration, in whole nanoseconds (free of drift
// when counted from one point).
Duration framesToDuration(uint64_t frames, uint32_t rate);

class SoundStamper {
public:
    struct Options {
        // How far a block may end after its coming before its front is cut.
        Duration aheadLimit = std::chrono::milliseconds(30);
        // How late every block during `latenessWindow` must have come
        // before the count is moved on; a zero window checks each block.
        Duration lateLimit = std::chrono::milliseconds(60);
        Duration latenessWindow = std::chrono::seconds(2);
    };

    struct Stamp {
        TimePoint pts{};        // the first frame kept
        uint64_t skipped = 0;   // frames dropped at the block's front
        bool operator==(const Stamp&) const = default;
    };

    // `rate` is in frames a second and not zero.
    SoundStamper(uint32_t rate, Options options);

    // The time of a block of `frames` that had come by `now` together with
    // `framesAfter` frames recorded after it (a backlog read at once).
    Stamp stamp(uint64_t frames, TimePoint now, uint64_t framesAfter = 0);

    // Frames were lost before the next block (an overflow): its time is
    // taken from its coming again, never before the last block's end.
    void lostData() { lostData_ = true; }

private:
    // Where the next block starts when it follows on.
    TimePoint timelineEnd() const { return *anchor_ + framesToDuration(framesSinceAnchor_, rate_); }

    const uint32_t rate_;
    const Options options_;
    // The time of the frame counted from, and the frames counted since.
    std::optional<TimePoint> anchor_;
    uint64_t framesSinceAnchor_ = 0;
    bool lostData_ = false;
    // The least lateness of the blocks since windowStart_.
    TimePoint windowStart_{};
    Duration leastLateness_ = Duration::max();
};

}  // namespace hollowkit
