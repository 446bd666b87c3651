#pragma once

// CaptureTap: the hand-over point between the camera's delivery threads and
// the model's recording and photo operations. It holds the recording in
// progress (if any), one waiting request for the next frame, and the time
// the last sound arrived. Frames and sound come in on whichever thread
// delivers them; the model sets and clears the recorder and the request.
//
// One lock guards the three fields and is never held while the recorder or
// the request runs: each call copies out what it needs, unlocks, then calls.
// Any thread.

#include <functional>
#include <memory>
#include <mutex>

#include "hollowkit/base/clock.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_frame.h"

namespace lumenhollow {

// Where a recording's frames and sound go; both calls only hand the sample
// on and return at once. Any thread.
class SampleRecorder {
public:
    virtual ~SampleRecorder() = default;
    virtual void appendVideo(const hollowkit::VideoFrame& frame) = 0;
    virtual void appendAudio(const hollowkit::AudioChunk& chunk) = 0;
};

// Called once, on the delivering thread, with the next frame.
using FrameRequest = std::function<void(const hollowkit::VideoFrame& frame)>;

class CaptureTap {
public:
    // `clock` stamps the arrival of sound; it must outlive the tap.
    explicit CaptureTap(const hollowkit::Clock& clock);
    CaptureTap(const CaptureTap&) = delete;
    CaptureTap& operator=(const CaptureTap&) = delete;

    // The recorder that receives every following sample; null detaches.
    // A sample already handed out may still reach the previous one.
    void setRecorder(std::shared_ptr<SampleRecorder> recorder);
    std::shared_ptr<SampleRecorder> recorder() const;

    // The request the next frame answers; it replaces one still waiting.
    void setFrameRequest(FrameRequest request);
    bool hasFrameRequest() const;

    // When sound last arrived (kDistantPast before any).
    hollowkit::TimePoint lastAudio() const;

    // Delivering threads.
    void appendVideo(const hollowkit::VideoFrame& frame);
    void appendAudio(const hollowkit::AudioChunk& chunk);

private:
    const hollowkit::Clock& clock_;
    mutable std::mutex lock_;
    std::shared_ptr<SampleRecorder> recorder_;                  // guarded by lock_
    FrameRequest frameRequest_;                                 // guarded by lock_
    hollowkit::TimePoint lastAudio_ = hollowkit::kDistantPast;  // guarded by lock_
};

}  // namespace lumenhollow
