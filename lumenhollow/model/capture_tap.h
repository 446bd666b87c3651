#pragma once

// CaptureTap: the hand-over point between the camera's delivery threads and
// the model's recording and photo operations. It holds the recording in
// progress (if any), the requests waiting for the next frame, and when the
// last frame and the last sound arrived. Frames and sound come in on
// whichever thread delivers them; the model sets and clears the recorder
// and adds the requests.
//
// Requests do not replace one another: a photo asked for just before a
// position's thumbnail, or two photos in a row, are all answered by the next
// frame.
//
// One lock guards the fields and is never held while the recorder or a
// request runs: each call copies out what it needs, unlocks, then calls.
// Any thread.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

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

    // Adds a request for the next frame; every request waiting is answered
    // by that frame, in the order they were added.
    void addFrameRequest(FrameRequest request);
    size_t pendingFrameRequests() const;

    // When sound and frames last arrived (kDistantPast before any).
    hollowkit::TimePoint lastAudio() const;
    hollowkit::TimePoint lastVideo() const;

    // Delivering threads.
    void appendVideo(const hollowkit::VideoFrame& frame);
    void appendAudio(const hollowkit::AudioChunk& chunk);

private:
    const hollowkit::Clock& clock_;
    mutable std::mutex lock_;
    std::shared_ptr<SampleRecorder> recorder_;                  // guarded by lock_
    std::vector<FrameRequest> frameRequests_;                   // guarded by lock_
    hollowkit::TimePoint lastAudio_ = hollowkit::kDistantPast;  // guarded by lock_
    hollowkit::TimePoint lastVideo_ = hollowkit::kDistantPast;  // guarded by lock_
};

}  // namespace lumenhollow
