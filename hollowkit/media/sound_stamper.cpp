#include "hollowkit/media/sound_stamper.h"

#include <algorithm>

namespace hollowkit {

namespace {

// The whole frames at `rate` that fit in `duration` (not negative).
uint64_t framesIn(Duration duration, uint32_t rate) {
    const auto nanoseconds = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count());
    return nanoseconds / 1'000'000'000ULL * rate + nanoseconds % 1'000'000'000ULL * rate / 1'000'000'000ULL;
}

}  // namespace

Duration framesToDuration(uint64_t frames, uint32_t rate) {
    const uint64_t nanoseconds = frames / rate * 1'000'000'000ULL + frames % rate * 1'000'000'000ULL / rate;
    return std::chrono::duration_cast<Duration>(std::chrono::nanoseconds(static_cast<int64_t>(nanoseconds)));
}

SoundStamper::SoundStamper(uint32_t rate, Options options) : rate_(std::max<uint32_t>(rate, 1)), options_(options) {}

SoundStamper::Stamp SoundStamper::stamp(uint64_t frames, TimePoint now, uint64_t framesAfter) {
    // Frames are recorded one after another at the rate: the block's last
    // one was there by `now` less the frames recorded after it.
    const TimePoint came = now - framesToDuration(framesAfter, rate_);
    const Duration length = framesToDuration(frames, rate_);
    if (!anchor_ || lostData_) {
        TimePoint start = came - length;
        if (anchor_) start = std::max(start, timelineEnd());
        anchor_ = start;
        framesSinceAnchor_ = 0;
        lostData_ = false;
        windowStart_ = now;
        leastLateness_ = Duration::max();
    } else {
        // A block that came early (ahead of the count) says the count is
        // not behind: it holds the least lateness below the limit.
        leastLateness_ = std::min(leastLateness_, came - (timelineEnd() + length));
        if (now - windowStart_ >= options_.latenessWindow) {
            if (leastLateness_ > options_.lateLimit) *anchor_ += leastLateness_;
            windowStart_ = now;
            leastLateness_ = Duration::max();
        }
    }
    // The count never goes back: a block that would end too far past its
    // coming keeps only the frames that fit before that.
    const TimePoint start = timelineEnd();
    const TimePoint latestEnd = came + options_.aheadLimit;
    uint64_t kept = frames;
    if (start + length > latestEnd) kept = latestEnd > start ? std::min(frames, framesIn(latestEnd - start, rate_)) : 0;
    framesSinceAnchor_ += kept;
    return {start, frames - kept};
}

}  // namespace hollowkit
