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

void CaptureTap::setFrameRequest(FrameRequest request) {
    std::lock_guard guard(lock_);
    frameRequest_.swap(request);
}

bool CaptureTap::hasFrameRequest() const {
    std::lock_guard guard(lock_);
    return static_cast<bool>(frameRequest_);
}

hollowkit::TimePoint CaptureTap::lastAudio() const {
    std::lock_guard guard(lock_);
    return lastAudio_;
}

void CaptureTap::appendVideo(const hollowkit::VideoFrame& frame) {
    std::shared_ptr<SampleRecorder> recorder;
    FrameRequest request;
    {
        std::lock_guard guard(lock_);
        recorder = recorder_;
        request.swap(frameRequest_);
    }
    if (recorder) recorder->appendVideo(frame);
    if (request) request(frame);
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
