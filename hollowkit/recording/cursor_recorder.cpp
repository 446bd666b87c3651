#include "hollowkit/recording/cursor_recorder.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace hollowkit {
double CursorRecorder::timelineSeconds(TimePoint time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

CursorRecorder::CursorRecorder(uint32_t displayID, Executor& main, DisplayService& displays,
                               PointerService& pointer, KeyPressSource& keys, ButtonPressSource& buttons)
    : displayID_(displayID),
      main_(main),
      displays_(displays),
      pointer_(pointer),
      keys_(keys),
      buttons_(buttons),
      lastKeyIdle_(std::numeric_limits<double>::max()) {}

CursorRecorder::~CursorRecorder() {
    if (timer_ != 0) main_.cancel(timer_);
    if (listeningToKeys_) keys_.stop();
    if (listeningToButtons_) buttons_.stop();
}

void CursorRecorder::start() {
    if (started_) return;
    started_ = true;
    samples_.reserve(std::max(kReservedSamples, samples_.size()));
    listeningToKeys_ = keys_.start();
    listeningToButtons_ = buttons_.start();
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
    if (listeningToButtons_) {
        buttons_.stop();
        listeningToButtons_ = false;
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

    std::optional<std::vector<ButtonChange>> changes;
    if (listeningToButtons_) {
        changes = buttons_.takeChanges();
        if (!changes) {
            // The button can no longer be heard: sampled from now on.
            buttons_.stop();
            listeningToButtons_ = false;
            buttonDown_.reset();
        }
    }
    const std::optional<PointerState> pointer = pointer_.query();
    // The events move on from what the pointer showed when they were first
    // heard.
    if (changes && !buttonDown_ && pointer) buttonDown_ = pointer->leftButtonDown;
    if (pointer && bounds_) {
        CursorSample sample;
        sample.time = now;
        sample.x = (pointer->rootX - bounds_->x) / static_cast<double>(bounds_->width);
        sample.y = (pointer->rootY - bounds_->y) / static_cast<double>(bounds_->height);
        sample.pressed = pointer->leftButtonDown;
        sample.overApp = pointer->overOwnWindow;
        // While the events are heard they alone say the button: a press
        // the pointer shows before its event came is told once, when the
        // event comes, never twice.
        if (changes) addButtonChanges(*changes, sample);
        samples_.push_back(sample);
    } else if (changes && buttonDown_) {
        // No sample to place them before: the button still follows them.
        for (const ButtonChange& change : *changes) buttonDown_ = change.down;
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

void CursorRecorder::addButtonChanges(const std::vector<ButtonChange>& changes, CursorSample& next) {
    const std::optional<CursorSample> previous =
        samples_.empty() ? std::nullopt : std::optional<CursorSample>(samples_.back());
    for (const ButtonChange& change : changes) {
        // One the pointer already showed (the state first heard from) adds nothing.
        if (change.down == *buttonDown_) continue;
        buttonDown_ = change.down;
        if (!previous) continue;
        // At its time, kept between the samples around it (an event heard
        // late); where the pointer was when it was heard, else between the
        // two; over the app's windows as they were heard to be then, else as
        // the sample nearer that place was (the pointer may have crossed
        // them both ways between two samples).
        const double time = std::clamp(timelineSeconds(change.time), samples_.back().time, next.time);
        CursorSample changed = next;
        changed.time = time;
        if (change.at) {
            changed.x = (change.at->x - bounds_->x) / static_cast<double>(bounds_->width);
            changed.y = (change.at->y - bounds_->y) / static_cast<double>(bounds_->height);
        } else {
            const double span = next.time - previous->time;
            const double along = span > 0 ? (time - previous->time) / span : 1.0;
            changed.x = previous->x + along * (next.x - previous->x);
            changed.y = previous->y + along * (next.y - previous->y);
        }
        const auto distance = [&](const CursorSample& to) {
            return std::hypot(to.x - changed.x, to.y - changed.y);
        };
        changed.overApp = change.overApp.value_or(distance(*previous) < distance(next) ? previous->overApp
                                                                                          : next.overApp);
        changed.pressed = change.down;
        samples_.push_back(changed);
    }
    next.pressed = *buttonDown_;
}

}  // namespace hollowkit
