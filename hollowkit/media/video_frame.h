#pragma once

// VideoFrame: one decoded or captured picture, as a cheap handle to immutable
// pixels. Copying a handle shares the pixels (one reference count); nothing is
// ever written through a VideoFrame, so handles cross threads freely. Pixels
// come either from a WritableVideoFrame that was filled and then frozen, or
// from memory owned elsewhere (a decoder's frame, a mapped capture buffer)
// kept alive by an owner reference for as long as any handle exists.
//
// The presentation time lives in the handle, not in the pixels, so re-timing
// a frame never copies it. Every source stamps CLOCK_MONOTONIC.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>

#include "hollowkit/base/clock.h"

namespace hollowkit {

enum class PixelFormat : uint8_t {
    none = 0,
    nv12,  // plane 0: Y, one byte per pixel; plane 1: interleaved Cb Cr at half size
    bgra,  // plane 0: B G R A bytes per pixel
};

// Planes used by `format` (0 for none).
int planeCount(PixelFormat format);

// Bytes of pixel data in one row of `plane` and the number of rows, for a
// picture of the given size. Odd NV12 sizes round the chroma plane up.
// Zero for a plane the format does not have.
struct PlaneSize {
    size_t rowBytes = 0;
    int rows = 0;

    bool operator==(const PlaneSize&) const = default;
};
PlaneSize planeSize(PixelFormat format, int width, int height, int plane);

// A plane of memory owned elsewhere; `stride` is bytes from one row's start to
// the next and must cover the plane's row bytes.
struct PlaneView {
    const uint8_t* data = nullptr;
    size_t stride = 0;
};

namespace detail {
struct FrameStorage;
}

class VideoFrame {
public:
    static constexpr int kMaxDimension = 16384;

    // A null frame: no pixels.
    VideoFrame() = default;

    // Copies the pixels of `planes` into new storage with aligned rows. For
    // sources whose buffers are reused as soon as the call returns. Returns a
    // null frame when the size is out of range or the planes do not match the
    // format (count, null data, stride shorter than a row).
    static VideoFrame copyFrom(PixelFormat format, int width, int height,
                               std::span<const PlaneView> planes, TimePoint pts);

    // Shares memory owned elsewhere without copying. `owner` keeps the memory
    // alive and unchanged until the last handle is gone; releasing it is the
    // signal that the memory may be reused. Checked like copyFrom.
    static VideoFrame wrap(PixelFormat format, int width, int height,
                           std::span<const PlaneView> planes, TimePoint pts,
                           std::shared_ptr<const void> owner);

    bool isNull() const { return storage_ == nullptr; }
    explicit operator bool() const { return !isNull(); }

    PixelFormat pixelFormat() const;
    int width() const;
    int height() const;
    int planeCount() const { return hollowkit::planeCount(pixelFormat()); }

    // First byte and row stride of `plane`; null and 0 for a plane the frame
    // does not have.
    const uint8_t* planeData(int plane) const;
    size_t stride(int plane) const;
    // The pixel bytes of one row (without padding); empty when out of range.
    std::span<const uint8_t> row(int plane, int y) const;

    TimePoint pts() const { return pts_; }
    // The same pixels under another presentation time.
    VideoFrame withPts(TimePoint pts) const;

    // True when both handles refer to the same pixel storage.
    bool sharesPixelsWith(const VideoFrame& other) const {
        return storage_ != nullptr && storage_ == other.storage_;
    }

private:
    friend class WritableVideoFrame;
    VideoFrame(std::shared_ptr<const detail::FrameStorage> storage, TimePoint pts)
        : storage_(std::move(storage)), pts_(pts) {}

    std::shared_ptr<const detail::FrameStorage> storage_;
    TimePoint pts_{};
};

// A picture being produced: its owner writes the pixels, then freezes it into
// a VideoFrame; after that nobody writes again. Move-only, one thread at a
// time. Rows start on 64-byte boundaries.
class WritableVideoFrame {
public:
    static constexpr size_t kRowAlignment = 64;

    WritableVideoFrame() = default;
    WritableVideoFrame(WritableVideoFrame&&) noexcept = default;
    WritableVideoFrame& operator=(WritableVideoFrame&&) noexcept = default;
    WritableVideoFrame(const WritableVideoFrame&) = delete;
    WritableVideoFrame& operator=(const WritableVideoFrame&) = delete;

    // New storage with aligned rows, contents undefined. Null when the size
    // is out of range or the format is none.
    static WritableVideoFrame allocate(PixelFormat format, int width, int height);

    bool isNull() const { return storage_ == nullptr; }
    explicit operator bool() const { return !isNull(); }

    PixelFormat pixelFormat() const;
    int width() const;
    int height() const;
    uint8_t* planeData(int plane);
    size_t stride(int plane) const;
    std::span<uint8_t> row(int plane, int y);

    // Hands the pixels over as an immutable frame; this object becomes null.
    VideoFrame freeze(TimePoint pts) &&;

private:
    friend class PixelBufferPool;
    explicit WritableVideoFrame(std::shared_ptr<detail::FrameStorage> storage)
        : storage_(std::move(storage)) {}

    std::shared_ptr<detail::FrameStorage> storage_;
};

}  // namespace hollowkit
