#pragma once

// VideoSink: a surface that shows camera frames (the main window's preview,
// the notch island's preview). The camera model hands it every displayed
// frame on the main executor; the view behind it paints the newest one.
// A sink whose renderer has failed says so, and a flush brings it back.
// Main executor only, except a sink that takes frames on the thread that
// delivered them (takesFramesOffMain()): its deliver() runs there, so the
// work of preparing a frame for the screen stays off the main executor.

#include <cstdint>

#include "hollowkit/media/video_frame.h"

namespace lumenhollow {

class VideoSink {
public:
    virtual ~VideoSink() = default;

    // Shows `frame` next.
    virtual void enqueue(const hollowkit::VideoFrame& frame) = 0;
    // The renderer cannot show frames until flushed.
    virtual bool hasFailed() const = 0;
    // Drops queued frames and recovers a failed renderer; the picture shown stays.
    virtual void flush() = 0;
    // As flush(), and the picture shown goes too (a camera was replaced).
    virtual void flushRemovingImage() = 0;

    // Whether frames come through deliver() on the delivering thread instead
    // of enqueue() on the main executor. Such a sink cannot fail (hasFailed()
    // is never asked) and must not change its answer.
    virtual bool takesFramesOffMain() const { return false; }
    // Any thread. Shows `frame` unless the sink has since been cleared for a
    // newer generation (dropClearedGenerations), even when that clear comes
    // while the frame is being prepared.
    virtual void deliver(const hollowkit::VideoFrame& frame, uint64_t generation) {
        (void)frame;
        (void)generation;
    }
    // Main executor, before flushRemovingImage(): frames delivered under a
    // generation older than `generation` never show from now on.
    virtual void dropClearedGenerations(uint64_t generation) { (void)generation; }
};

}  // namespace lumenhollow
