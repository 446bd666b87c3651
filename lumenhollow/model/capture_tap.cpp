#include "lumenhollow/model/capture_tap.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace lumenhollow {

// One delivery under way, begun under the tap's lock. It ends when it goes
// out of scope, however the recorder or a request left it (an exception
// too), so no change waits for it for ever. What the requests hold goes
// within the delivery: requests left unanswered by an exception go
// uncalled, as at a detach.
class CaptureTap::Delivery {
public:
    explicit Delivery(CaptureTap& tap) : tap_(tap), seenChange_(tap.beginDelivery()) {}
    ~Delivery() {
        requests.clear();
        tap_.endDelivery(seenChange_);
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

    std::vector<FrameRequest> requests;

private:
    CaptureTap& tap_;
    const uint64_t seenChange_;
};

CaptureTap::CaptureTap(const hollowkit::Clock& clock) : clock_(clock) {}

void CaptureTap::refuseWithinDelivery(const char* change) const {
    if (std::find(deliveringThreads_.begin(), deliveringThreads_.end(), std::this_thread::get_id()) ==
        deliveringThreads_.end()) {
        return;
    }
    std::fprintf(stderr,
                 "CaptureTap: %s called from within one of its own deliveries (a recorder or frame request), "
                 "which it would wait for for ever\n",
                 change);
    std::fflush(stderr);
    std::abort();
}

void CaptureTap::setRecorder(std::shared_ptr<SampleRecorder> recorder) {
    std::unique_lock lock(lock_);
    refuseWithinDelivery("setRecorder");
    recorder_.swap(recorder);
    waitForEarlierDeliveries(lock);
    // The previous recorder is released after unlocking, here.
}

void CaptureTap::detach() {
    std::shared_ptr<SampleRecorder> previous;
    std::vector<FrameRequest> requests;
    std::unique_lock lock(lock_);
    refuseWithinDelivery("detach");
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
    // The one step that can fail comes first.
    deliveringThreads_.push_back(std::this_thread::get_id());
    ++deliveringNow_;
    return changes_;
}

void CaptureTap::endDelivery(uint64_t seenChange) {
    std::lock_guard guard(lock_);
    deliveringThreads_.erase(
        std::find(deliveringThreads_.begin(), deliveringThreads_.end(), std::this_thread::get_id()));
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
    std::optional<Delivery> delivery;
    {
        std::lock_guard guard(lock_);
        lastVideo_ = now;
        recorder = recorder_.get();
        if (!recorder && frameRequests_.empty()) return;
        delivery.emplace(*this);
        delivery->requests.swap(frameRequests_);
    }
    if (recorder) recorder->appendVideo(frame);
    for (const FrameRequest& request : delivery->requests) request(frame);
}

void CaptureTap::appendAudio(const hollowkit::AudioChunk& chunk) {
    const hollowkit::TimePoint now = clock_.now();
    SampleRecorder* recorder = nullptr;
    std::optional<Delivery> delivery;
    {
        std::lock_guard guard(lock_);
        lastAudio_ = now;
        recorder = recorder_.get();
        if (!recorder) return;
        delivery.emplace(*this);
    }
    recorder->appendAudio(chunk);
}

}  // namespace lumenhollow
