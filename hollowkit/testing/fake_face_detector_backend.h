#pragma once

// FakeFaceDetectorBackend: a FaceDetectorBackend for tests. It answers each
// detection from a script (boxes or a failure text; the last answer repeats)
// and counts calls. A gate can hold a detection until the test opens it.
// Thread-safe.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <string>
#include <vector>

#include "hollowkit/base/mutex.h"
#include "hollowkit/imaging/face_detector_backend.h"

namespace hollowkit {

class FakeFaceDetectorBackend final : public FaceDetectorBackend {
public:
    using Answer = Result<std::vector<NormalizedRect>, std::string>;

    // Answers for the next detections, in order; the last one repeats. With
    // no answer at all, detections find no face.
    void pushAnswer(Answer answer);

    void closeGate();
    void openGate();
    // Waits until at least `count` detections have begun (or finished, with
    // `finished`); false after `timeout`.
    bool waitForCalls(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool waitForFinished(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    size_t callCount() const;

    Answer detect(const VideoFrame& frame) override;

private:
    mutable Mutex mutex_;
    std::condition_variable changed_;
    std::deque<Answer> answers_ HK_GUARDED_BY(mutex_);
    bool gateClosed_ HK_GUARDED_BY(mutex_) = false;
    size_t calls_ HK_GUARDED_BY(mutex_) = 0;
    size_t finished_ HK_GUARDED_BY(mutex_) = 0;
};

}  // namespace hollowkit
