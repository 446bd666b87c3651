#include "hollowkit/recording/cursor_recorder.h"

#include <algorithm>
#include <limits>

namespace hollowkit {
double CursorRecorder::timelineSeconds(TimePoint time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

CursorRecorder::CursorRecorder(uint32_t displayID, Executor& main, DisplayService& displays,
                               PointerService& pointer, KeyPressSource& keys)
    : displayID_(displayID),
      main_(main),
      displays_(displays),
      pointer_(pointer),
      keys_(keys),
      lastKeyIdle_(std::numeric_limits<double>::max()) {}

CursorRecorder::~CursorRecorder() {
    if (timer_ != 0) main_.cancel(timer_);
    if (listeningToKeys_) keys_.stop();
}

void CursorRecorder::start() {
    if (started_) return;
    started_ = true;
    samples_.reserve(std::max(kReservedSamples, samples_.size()));
    listeningToKeys_ = keys_.start();
    refreshBounds();
    sample();
    // Cancelled by stop() or the destructor, so it never outlives the
    // recorder.
    timer_ = main_.every(kSampleInterval, [this] { sample(); });
}

CursorTimeline CursorRecorder::stop() {
    if (timer_ != 0) {
        main_.cancel(timer_);
        timer_ = 0;
    }
    if (listeningToKeys_) {
        keys_.stop();
        listeningToKeys_ = false;
    }
    return CursorTimeline{samples_, keyPresses_};
}

void CursorRecorder::refreshBounds() {
    samplesSinceBounds_ = 0;
    auto list = displays_.displays();
    if (!list) return;  // keep the last known bounds
    const auto& displays = list.value();
    const auto found = std::find_if(displays.begin(), displays.end(),
                                    [this](const DisplayInfo& d) { return d.id == displayID_; });
    // A display that went away: the screen recorder records the main one
    // then, so the pointer is measured against that.
    std::optional<DisplayInfo> chosen = found != displays.end() ? std::optional(*found) : mainDisplay(displays);
    if (chosen && chosen->width > 0 && chosen->height > 0) bounds_ = chosen;
}

void CursorRecorder::sample() {
    const TimePoint nowTime = main_.clock().now();
    const double now = timelineSeconds(nowTime);
    if (++samplesSinceBounds_ >= kBoundsRefreshSamples) refreshBounds();

    const std::optional<PointerState> pointer = pointer_.query();
    if (pointer && bounds_) {
        CursorSample sample;
        sample.time = now;
        sample.x = (pointer->rootX - bounds_->x) / static_cast<double>(bounds_->width);
        sample.y = (pointer->rootY - bounds_->y) / static_cast<double>(bounds_->height);
        sample.pressed = pointer->leftButtonDown;
        sample.overApp = pointer->overOwnWindow;
        samples_.push_back(sample);
    }

    // A key-down since the previous sample is kept at its own time, not the
    // sample's. It is told apart by its time, not by a shorter idle time: a
    // second key-down within the next interval can be further from its
    // sample than the first was from its own, and would be lost.
    const std::optional<TimePoint> lastKey = listeningToKeys_ ? keys_.lastKeyDown() : std::nullopt;
    const double idle = lastKey ? now - timelineSeconds(*lastKey) : std::numeric_limits<double>::max();
    if (lastKey && lastKey != lastSeenKey_ && idle < kKeyWindowSeconds) {
        keyPresses_.push_back(timelineSeconds(*lastKey));
    }
    lastSeenKey_ = lastKey;
    lastKeyIdle_ = idle;
}

}  // namespace hollowkit
