#include "hollowkit/testing/fake_face_detector_backend.h"

#include <utility>

namespace hollowkit {

void FakeFaceDetectorBackend::pushAnswer(Answer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
}

void FakeFaceDetectorBackend::closeGate() {
    std::lock_guard lock(mutex_);
    gateClosed_ = true;
}

void FakeFaceDetectorBackend::openGate() {
    {
        std::lock_guard lock(mutex_);
        gateClosed_ = false;
    }
    changed_.notify_all();
}

bool FakeFaceDetectorBackend::waitForCalls(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return calls_ >= count; });
}

bool FakeFaceDetectorBackend::waitForFinished(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return finished_ >= count; });
}

size_t FakeFaceDetectorBackend::callCount() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

FakeFaceDetectorBackend::Answer FakeFaceDetectorBackend::detect(const VideoFrame&) {
    std::unique_lock lock(mutex_);
    ++calls_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !gateClosed_; });
    Answer answer = std::vector<NormalizedRect>{};
    if (!answers_.empty()) {
        answer = answers_.front();
        if (answers_.size() > 1) {
            answers_.pop_front();
        }
    }
    ++finished_;
    changed_.notify_all();
    return answer;
}

}  // namespace hollowkit
