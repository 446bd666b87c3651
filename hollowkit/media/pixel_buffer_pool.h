#pragma once

// PixelBufferPool: recycles the pixel memory of one format and size so a
// 30 fps producer does not map and fault in a fresh 12 MB block per frame,
// together with the frame's shared handle, so a warm pool allocates nothing.
// Owned by one producer (a processor, a decoder); acquire() from any thread.
// A buffer goes back to the pool when the last VideoFrame sharing it is gone,
// on whatever thread drops it; frames may outlive the pool, their memory is
// then simply freed.

#include <cstddef>
#include <memory>

#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class PixelBufferPool {
public:
    // Keeps at most `maxIdle` unused buffers; more are freed on release.
    PixelBufferPool(PixelFormat format, int width, int height, size_t maxIdle = 4);
    ~PixelBufferPool();
    PixelBufferPool(const PixelBufferPool&) = delete;
    PixelBufferPool& operator=(const PixelBufferPool&) = delete;

    // A writable frame in recycled (or new) memory, contents undefined. Null
    // when the pool's size is out of range.
    WritableVideoFrame acquire();

    PixelFormat pixelFormat() const { return format_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Buffers waiting for reuse.
    size_t idleCount() const;
    // Buffers handed out whose frames are not all gone yet (a producer that
    // bounds what its consumers hold checks this before acquire()).
    size_t leasedCount() const;

private:
    struct Entry;
    struct Shared;
    template <typename T>
    struct HandleAllocator;

    const PixelFormat format_;
    const int width_;
    const int height_;
    std::shared_ptr<Shared> shared_;
};

// A buffer from `pool`, first replacing the pool with one of `format` at
// `width`×`height` when it is missing or made for another size or format.
// Frames taken from a replaced pool stay valid.
WritableVideoFrame acquireSized(std::unique_ptr<PixelBufferPool>& pool, PixelFormat format, int width, int height,
                                size_t maxIdle = 4);

}  // namespace hollowkit
