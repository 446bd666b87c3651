#pragma once

// BackgroundPreview: shows in the live preview what the camera bubble of a
// screen-and-camera take will look like, with the room blurred or replaced
// by a dark backdrop. The camera model hands it the bubble style whenever it
// changes and, while the style needs a person mask (isActive), submits every
// camera frame with a delivery closure instead of showing the frame itself.
//
// The newest frame wins: a frame submitted while another waits replaces it
// (the replaced closure is released uncalled), so at most one frame is being
// treated and at most one waits, and a slow segmentation lowers the preview's
// frame rate instead of adding delay. Frames wider than 1920 pixels are
// brought down to 1920 wide; the result is BGRA with even width and height.
// Any failure delivers the submitted frame unchanged; nothing is logged.
//
// Threads: submit() from the video thread, never blocking it; style and face
// from the owner's thread; treatment and delivery on the preview's queue
// "HollowKit.BackgroundPreview". The lock guards style, face, the waiting
// frame and the running flag, and is never held while a frame is treated or
// delivered. The segmenter, the buffer pools, the working pictures and the
// row workers are used only on the queue. The working pictures (frame-sized:
// the blur's, the scaled input, the treated output) are let go on the queue
// once the style no longer needs treatment.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/imaging/normalized_rect.h"
#include "hollowkit/imaging/segmentation_backend.h"
#include "hollowkit/media/bubble_style.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class BackgroundPreview {
public:
    using Deliver = std::function<void(const VideoFrame& frame)>;

    // Frames wider than this are scaled down to it before treatment.
    static constexpr int kMaxWidth = 1920;

    // A GrabCut segmenter and a queue of its own.
    BackgroundPreview();
    // `backend` for the segmenter (null: no person is ever found), on a
    // queue of its own.
    explicit BackgroundPreview(std::unique_ptr<SegmentationBackend> backend);
    // Treats frames on `queue` (tests). The queue must outlive the preview.
    BackgroundPreview(std::unique_ptr<SegmentationBackend> backend, Executor& queue);
    ~BackgroundPreview();
    BackgroundPreview(const BackgroundPreview&) = delete;
    BackgroundPreview& operator=(const BackgroundPreview&) = delete;

    // The bubble style to preview; nothing = none. Takes effect with the
    // next frame treated. Any thread.
    void setStyle(std::optional<BubbleStyle> style);
    std::optional<BubbleStyle> style() const;

    // Whether frames should be submitted: a style is set and it needs a
    // person mask (a cut-out, or a blurred or removed room). Any thread.
    bool isActive() const;

    // The face box of the latest detection (normalised, top-left), a hint
    // for the segmenter where the person is; nothing = unknown. Any thread.
    void setFace(std::optional<NormalizedRect> face);

    // Queues `frame` for treatment and returns at once. `deliver` is called
    // later on the preview's queue with the treated frame, or with `frame`
    // itself when treatment is not possible, exactly once unless a newer
    // frame replaces this one first. Video thread.
    void submit(const VideoFrame& frame, Deliver deliver);

    // The bytes the working pictures hold (the pools' pictures, handed out or
    // waiting, and the scaling's and blur's). On the queue, or while it runs
    // nothing (tests that hand the preview their own queue).
    size_t workingBytes() const;

private:
    struct Core;

    std::unique_ptr<SerialQueue> ownQueue_;
    Executor& queue_;
    std::shared_ptr<Core> core_;  // queued drains hold it weakly
};

}  // namespace hollowkit
