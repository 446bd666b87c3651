#pragma once

// FrameMailbox: the one-slot hand-over of camera frames to the video
// surface. The thread that delivers a frame converts it to BGRA and scales
// it down to the surface's size in device pixels (published through an
// atomic), so the GUI thread only paints; a newer frame replaces one not yet
// taken (frames are dropped, never queued), and at most one wake-up is ever
// waiting. No Qt: the wake-up is the poster the owner gives.
//
// push(): any thread. take(), setTargetSize(), clear(): the GUI thread
// (setTargetSize() from any thread is safe too).

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
    // Asks the GUI thread to call take() once, soon. Called with no lock held.
    using Poster = std::function<void()>;

    struct Counts {
        uint64_t pushed = 0;  // frames given to push()
        uint64_t posted = 0;  // wake-ups posted
        uint64_t taken = 0;   // frames handed out by take()
    };

    explicit FrameMailbox(Poster poster);
    FrameMailbox(const FrameMailbox&) = delete;
    FrameMailbox& operator=(const FrameMailbox&) = delete;

    // The surface's size in device pixels; frames larger than what fits in
    // it are scaled down to fit. 0×0 (the start): frames keep their size.
    void setTargetSize(int width, int height);

    // `frame` (NV12 or BGRA) is shown next; a null frame or another format is ignored.
    void push(const hollowkit::VideoFrame& frame);
    // The newest BGRA frame since the last take, or a null frame.
    hollowkit::VideoFrame take();
    // Drops a frame waiting to be taken.
    void clear();

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
    std::unique_ptr<hollowkit::PixelBufferPool> pool_ HK_GUARDED_BY(mutex_);
};

}  // namespace lumenhollow
