#include "lumenhollow/model/capture_tap.h"

#include <utility>

namespace lumenhollow {

CaptureTap::CaptureTap(const hollowkit::Clock& clock) : clock_(clock) {}

void CaptureTap::setRecorder(std::shared_ptr<SampleRecorder> recorder) {
    std::lock_guard guard(lock_);
    recorder_.swap(recorder);
    // The previous recorder is released after unlocking.
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

void CaptureTap::appendVideo(const hollowkit::VideoFrame& frame) {
    const hollowkit::TimePoint now = clock_.now();
    std::shared_ptr<SampleRecorder> recorder;
    std::vector<FrameRequest> requests;
    {
        std::lock_guard guard(lock_);
        lastVideo_ = now;
        recorder = recorder_;
        requests.swap(frameRequests_);
    }
    if (recorder) recorder->appendVideo(frame);
    for (const FrameRequest& request : requests) request(frame);
}

void CaptureTap::appendAudio(const hollowkit::AudioChunk& chunk) {
    const hollowkit::TimePoint now = clock_.now();
    std::shared_ptr<SampleRecorder> recorder;
    {
        std::lock_guard guard(lock_);
        lastAudio_ = now;
        recorder = recorder_;
    }
    if (recorder) recorder->appendAudio(chunk);
}

}  // namespace lumenhollow
