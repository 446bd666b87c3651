#pragma once

// FrameProcessor: puts the selected colour look on every camera frame before
// it is recorded, analysed and shown. Owned by the camera model, which sets
// the look on the main thread and passes each frame through process() on the
// thread that delivers video. Without a look, the very same frame comes back
// at no cost; when any step fails the untreated frame goes on, so the picture
// never stops because of the look. Nothing is logged per frame.
//
// Treated frames are BGRA, drawn into buffers from a pool (keeping up to four
// idle) that is rebuilt when the frame size changes. The pool has its own lock, so two
// video threads (the old camera draining while the new one starts) may be in
// process() at once. Large frames are shared among a few row workers owned by
// the processor.

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "hollowkit/base/mutex.h"
#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/media/pixel_buffer_pool.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class LutEngine;
class RowWorkers;

class FrameProcessor {
public:
    struct Options {
        // Threads that share a large frame, the calling one included;
        // 0 picks RowWorkers::defaultThreadCount().
        int threadCount = 0;
        // Smaller frames are mapped on the calling thread alone, where
        // handing rows out would cost more than it saves.
        int parallelMinPixels = 640 * 360;
        // Where output buffers come from (BGRA of the given size); empty
        // means the processor's own pool. A null buffer counts as a failure.
        std::function<WritableVideoFrame(int width, int height)> bufferSource;
    };

    struct FrameSize {
        int width = 0;
        int height = 0;
        bool operator==(const FrameSize&) const = default;
    };

    FrameProcessor();
    explicit FrameProcessor(Options options);
    ~FrameProcessor();
    FrameProcessor(const FrameProcessor&) = delete;
    FrameProcessor& operator=(const FrameProcessor&) = delete;

    // Selects the look (none turns it off). The table is prepared here, off
    // the video thread; a frame already in progress finishes with the old
    // look. A table that cannot be prepared leaves frames untreated.
    // Main thread (any thread is safe).
    void setLUT(std::optional<ColorLUT> lut);
    // The same with the table prepared already (LutEngine::prepare of this
    // look, made on another thread), so a large look costs the caller
    // nothing; a null engine is prepared here.
    void setLUT(std::optional<ColorLUT> lut, std::shared_ptr<const LutEngine> prepared);

    // The selected look. Any thread.
    std::optional<ColorLUT> lut() const;

    // The frame with the look applied, or `frame` itself when there is no
    // look or anything fails. Video threads; may run on two at once.
    VideoFrame process(const VideoFrame& frame);

    // The frame size the pool was last made for, if any. Any thread.
    std::optional<FrameSize> poolSize() const;

private:
    WritableVideoFrame pixelBuffer(int width, int height);

    const Options options_;
    std::unique_ptr<RowWorkers> workers_;

    mutable Mutex lutMutex_;
    std::optional<ColorLUT> lut_ HK_GUARDED_BY(lutMutex_);
    std::shared_ptr<const LutEngine> engine_ HK_GUARDED_BY(lutMutex_);  // null without a look

    mutable Mutex poolMutex_;
    std::shared_ptr<PixelBufferPool> pool_ HK_GUARDED_BY(poolMutex_);  // made for the last size drawn
};

}  // namespace hollowkit
