#include "hollowkit/testing/fake_face_detector_backend.h"

#include <utility>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

void FakeFaceDetectorBackend::pushAnswer(Answer answer) {
    MutexLock lock(mutex_);
    answers_.push_back(std::move(answer));
}

void FakeFaceDetectorBackend::closeGate() {
    MutexLock lock(mutex_);
    gateClosed_ = true;
}

void FakeFaceDetectorBackend::openGate() {
    {
        MutexLock lock(mutex_);
        gateClosed_ = false;
    }
    changed_.notify_all();
}

bool FakeFaceDetectorBackend::waitForCalls(size_t count, std::chrono::milliseconds timeout) {
    MutexLock lock(mutex_);
    return lock.waitFor(changed_, timeout, [&]() HK_REQUIRES(mutex_) { return calls_ >= count; });
}

bool FakeFaceDetectorBackend::waitForFinished(size_t count, std::chrono::milliseconds timeout) {
    MutexLock lock(mutex_);
    return lock.waitFor(changed_, timeout, [&]() HK_REQUIRES(mutex_) { return finished_ >= count; });
}

size_t FakeFaceDetectorBackend::callCount() const {
    MutexLock lock(mutex_);
    return calls_;
}

FakeFaceDetectorBackend::Answer FakeFaceDetectorBackend::detect(const VideoFrame&) {
    MutexLock lock(mutex_);
    ++calls_;
    changed_.notify_all();
    lock.wait(changed_, [&]() HK_REQUIRES(mutex_) { return !gateClosed_; });
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
