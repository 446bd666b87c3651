#pragma once

// VideoSink: a surface that shows camera frames (the main window's preview,
// the notch island's preview). The camera model hands it every displayed
// frame on the main executor; the view behind it paints the newest one.
// A sink whose renderer has failed says so, and a flush brings it back.
// Main executor only.

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
};

}  // namespace lumenhollow
