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
// Whoever changes the recorder (or detaches the tap) waits for the
// deliveries that began before, so a recorder or request is only ever let go
// by the thread that took it out of the tap, never by a delivering one: the
// last of a movie (its finish and the completion it posts) happens on the
// model's thread while the model is there, not on a camera's thread after
// it. A delivery ends however it leaves the recorder or a request, an
// exception included (which goes on to the delivering thread's caller). A
// recorder and a request only hand the sample on and return; neither may
// change the tap: a change made from within a delivery would wait for that
// delivery for ever, so it ends the process with a message instead. Any
// thread.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
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
    // Returns once no delivery that began before still runs, so no sample
    // reaches the previous recorder afterwards and the caller lets it go.
    // Never from a delivery of this tap (aborts).
    void setRecorder(std::shared_ptr<SampleRecorder> recorder);
    // The owner's end: detaches the recorder and drops the requests still
    // waiting, then waits like setRecorder. Nothing the owner handed the
    // tap runs or is held by it afterwards; samples still arrive and are
    // only stamped. Never from a delivery of this tap (aborts).
    void detach();
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

    // How many changes of the recorder (or detaches) had to wait for a
    // delivery under way; for tests that hold one there.
    uint64_t waitedChanges() const;

private:
    class Delivery;

    // Under lock_: a delivery begins and gets the change it began after.
    uint64_t beginDelivery();
    void endDelivery(uint64_t seenChange);
    // Ends the process when the calling thread is delivering into this tap:
    // `change` would wait for its own delivery.
    void refuseWithinDelivery(const char* change) const;
    // Under lock_ (held by `lock`): a change is made; waits for every
    // delivery that began before it.
    void waitForEarlierDeliveries(std::unique_lock<std::mutex>& lock);

    const hollowkit::Clock& clock_;
    mutable std::mutex lock_;
    std::shared_ptr<SampleRecorder> recorder_;                  // guarded by lock_
    std::vector<FrameRequest> frameRequests_;                   // guarded by lock_
    hollowkit::TimePoint lastAudio_ = hollowkit::kDistantPast;  // guarded by lock_
    hollowkit::TimePoint lastVideo_ = hollowkit::kDistantPast;  // guarded by lock_
    // Deliveries under way that hold the recorder or requests, counted by
    // whether they began after the latest change or before it.
    uint64_t changes_ = 0;          // guarded by lock_
    int deliveringNow_ = 0;         // guarded by lock_
    int deliveringBefore_ = 0;      // guarded by lock_
    uint64_t waitedChanges_ = 0;    // guarded by lock_
    // The threads delivering now, once per delivery under way.
    std::vector<std::thread::id> deliveringThreads_;  // guarded by lock_
    std::condition_variable earlierDelivered_;
};

}  // namespace lumenhollow
