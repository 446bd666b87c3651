#pragma once

// FrameMailbox: the one-slot hand-over of camera frames to the video
// surface. The thread that delivers a frame converts it to BGRA and scales
// it down to the surface's size in device pixels (published through an
// atomic), so the GUI thread only paints; a newer frame replaces one not yet
// taken (frames are dropped, never queued), and at most one wake-up is ever
// waiting. No Qt: the wake-up is the poster the owner gives, and the owner
// says when it arrived (wakeUpDelivered): only then may the next frame post
// another. A wake-up that arrives with nobody to take the frame (the window
// closed, a new one not yet made) still counts as arrived, so the frames
// after it wake whoever takes them next.
//
// A frame may carry the generation of the camera that delivered it: once
// the camera is replaced, frames of older generations are dropped, even one
// that was being prepared while the mailbox was cleared.
//
// push(): any thread. wakeUpDelivered(), take(), setTargetSize(), clear(),
// dropGenerationsBefore(): the GUI thread (setTargetSize() from any thread
// is safe too).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "hollowkit/base/mutex.h"
#include "hollowkit/media/pixel_buffer_pool.h"
#include "hollowkit/media/video_frame.h"

namespace lumenhollow {

class FrameMailbox {
public:
    // Asks the GUI thread to call wakeUpDelivered() and then, where a view
    // is there to show it, take(), once, soon. Called with no lock held.
    using Poster = std::function<void()>;

    struct Counts {
        uint64_t pushed = 0;     // frames given to push()
        uint64_t posted = 0;     // wake-ups posted
        uint64_t delivered = 0;  // wake-ups that reached the GUI thread
        uint64_t taken = 0;      // frames handed out by take()
    };

    explicit FrameMailbox(Poster poster);
    FrameMailbox(const FrameMailbox&) = delete;
    FrameMailbox& operator=(const FrameMailbox&) = delete;

    // The surface's size in device pixels; frames larger than what fits in
    // it are scaled down to fit. 0×0 (the start): frames keep their size.
    void setTargetSize(int width, int height);

    // A frame pushed without a generation is never older than a clear.
    static constexpr uint64_t kNewestGeneration = UINT64_MAX;

    // `frame` (NV12 or BGRA) is shown next; a null frame, another format or
    // a frame of a generation dropped already is ignored.
    void push(const hollowkit::VideoFrame& frame, uint64_t generation = kNewestGeneration);
    // The wake-up posted last has reached the GUI thread: the next frame
    // pushed posts a new one, whether or not anyone takes this one.
    void wakeUpDelivered();
    // The newest BGRA frame since the last take, or a null frame. It leaves
    // the wake-up alone: one still on its way stays the only one.
    hollowkit::VideoFrame take();
    // Drops a frame waiting to be taken.
    void clear();
    // As clear(), and frames of generations below `generation` are dropped
    // from now on (a lower value than before changes nothing).
    void dropGenerationsBefore(uint64_t generation);

    Counts counts() const;

    // The size a `frameWidth`×`frameHeight` frame is shown at in a target
    // of `targetWidth`×`targetHeight`: its own size when it fits (or no
    // target is known), else the largest size of its aspect that fits.
    struct PixelSize {
        int width = 0;
        int height = 0;
        bool operator==(const PixelSize&) const = default;
    };
    static PixelSize preparedSize(int frameWidth, int frameHeight, int targetWidth, int targetHeight);

private:
    hollowkit::VideoFrame prepare(const hollowkit::VideoFrame& frame);

    const Poster poster_;
    std::atomic<uint64_t> target_{0};  // width << 32 | height

    mutable hollowkit::Mutex mutex_;
    hollowkit::VideoFrame slot_ HK_GUARDED_BY(mutex_);
    bool wakeUpWaiting_ HK_GUARDED_BY(mutex_) = false;
    Counts counts_ HK_GUARDED_BY(mutex_);
    uint64_t oldestShown_ HK_GUARDED_BY(mutex_) = 0;  // the oldest generation still shown
    std::unique_ptr<hollowkit::PixelBufferPool> pool_ HK_GUARDED_BY(mutex_);
};

}  // namespace lumenhollow
