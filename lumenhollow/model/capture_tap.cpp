#include "lumenhollow/model/capture_tap.h"

#include <utility>

namespace lumenhollow {

CaptureTap::CaptureTap(const hollowkit::Clock& clock) : clock_(clock) {}

void CaptureTap::setRecorder(std::shared_ptr<SampleRecorder> recorder) {
    std::unique_lock lock(lock_);
    recorder_.swap(recorder);
    waitForEarlierDeliveries(lock);
    // The previous recorder is released after unlocking, here.
}

void CaptureTap::detach() {
    std::shared_ptr<SampleRecorder> previous;
    std::vector<FrameRequest> requests;
    std::unique_lock lock(lock_);
    previous.swap(recorder_);
    requests.swap(frameRequests_);
    waitForEarlierDeliveries(lock);
    lock.unlock();
}

std::shared_ptr<SampleRecorder> CaptureTap::recorder() const {
    std::lock_guard guard(lock_);
    return recorder_;
}

void CaptureTap::addFrameRequest(FrameRequest request) {
    if (!request) return;
    std::lock_guard guard(lock_);
    frameRequests_.push_back(std::move(request));
}

size_t CaptureTap::pendingFrameRequests() const {
    std::lock_guard guard(lock_);
    return frameRequests_.size();
}

hollowkit::TimePoint CaptureTap::lastAudio() const {
    std::lock_guard guard(lock_);
    return lastAudio_;
}

hollowkit::TimePoint CaptureTap::lastVideo() const {
    std::lock_guard guard(lock_);
    return lastVideo_;
}

uint64_t CaptureTap::waitedChanges() const {
    std::lock_guard guard(lock_);
    return waitedChanges_;
}

uint64_t CaptureTap::beginDelivery() {
    ++deliveringNow_;
    return changes_;
}

void CaptureTap::endDelivery(uint64_t seenChange) {
    std::lock_guard guard(lock_);
    if (seenChange == changes_) {
        --deliveringNow_;
    } else if (--deliveringBefore_ == 0) {
        earlierDelivered_.notify_all();
    }
}

void CaptureTap::waitForEarlierDeliveries(std::unique_lock<std::mutex>& lock) {
    ++changes_;
    deliveringBefore_ += std::exchange(deliveringNow_, 0);
    if (deliveringBefore_ == 0) return;
    ++waitedChanges_;
    earlierDelivered_.wait(lock, [this] { return deliveringBefore_ == 0; });
}

// The recorder is borrowed, not copied: the change that takes it out of the
// tap holds it until this delivery has ended, and lets it go itself.
void CaptureTap::appendVideo(const hollowkit::VideoFrame& frame) {
    const hollowkit::TimePoint now = clock_.now();
    SampleRecorder* recorder = nullptr;
    std::vector<FrameRequest> requests;
    uint64_t seenChange = 0;
    {
        std::lock_guard guard(lock_);
        lastVideo_ = now;
        recorder = recorder_.get();
        requests.swap(frameRequests_);
        if (!recorder && requests.empty()) return;
        seenChange = beginDelivery();
    }
    if (recorder) recorder->appendVideo(frame);
    for (const FrameRequest& request : requests) request(frame);
    // What the requests hold goes within the delivery too.
    requests.clear();
    endDelivery(seenChange);
}

void CaptureTap::appendAudio(const hollowkit::AudioChunk& chunk) {
    const hollowkit::TimePoint now = clock_.now();
    SampleRecorder* recorder = nullptr;
    uint64_t seenChange = 0;
    {
        std::lock_guard guard(lock_);
        lastAudio_ = now;
        recorder = recorder_.get();
        if (!recorder) return;
        seenChange = beginDelivery();
    }
    recorder->appendAudio(chunk);
    endDelivery(seenChange);
}

}  // namespace lumenhollow
