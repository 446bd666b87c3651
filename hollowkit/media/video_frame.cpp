#include "hollowkit/media/video_frame.h"

#include <cstring>
#include <new>

#include "hollowkit/media/frame_storage.h"

namespace hollowkit {

namespace {

constexpr size_t alignUp(size_t value, size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool planesMatch(PixelFormat format, int width, int height, std::span<const PlaneView> planes) {
    if (!detail::validFrameSize(format, width, height)) {
        return false;
    }
    if (planes.size() != static_cast<size_t>(planeCount(format))) {
        return false;
    }
    for (size_t i = 0; i < planes.size(); ++i) {
        const PlaneSize size = planeSize(format, width, height, static_cast<int>(i));
        if (planes[i].data == nullptr || planes[i].stride < size.rowBytes) {
            return false;
        }
    }
    return true;
}

const detail::FrameStorage kNoStorage{};

}  // namespace

int planeCount(PixelFormat format) {
    switch (format) {
    case PixelFormat::nv12:
        return 2;
    case PixelFormat::bgra:
        return 1;
    case PixelFormat::none:
        break;
    }
    return 0;
}

PlaneSize planeSize(PixelFormat format, int width, int height, int plane) {
    if (width <= 0 || height <= 0 || plane < 0 || plane >= planeCount(format)) {
        return {};
    }
    const auto w = static_cast<size_t>(width);
    switch (format) {
    case PixelFormat::nv12:
        if (plane == 0) {
            return {w, height};
        }
        // One Cb Cr byte pair for every 2x2 block, a partial block included.
        return {(w + 1) / 2 * 2, (height + 1) / 2};
    case PixelFormat::bgra:
        return {w * 4, height};
    case PixelFormat::none:
        break;
    }
    return {};
}

namespace detail {

bool validFrameSize(PixelFormat format, int width, int height) {
    return planeCount(format) > 0 && width > 0 && height > 0 &&
           width <= VideoFrame::kMaxDimension && height <= VideoFrame::kMaxDimension;
}

AlignedLayout alignedLayout(PixelFormat format, int width, int height) {
    AlignedLayout layout;
    size_t offset = 0;
    for (int plane = 0; plane < hollowkit::planeCount(format); ++plane) {
        const PlaneSize size = planeSize(format, width, height, plane);
        const size_t stride = alignUp(size.rowBytes, WritableVideoFrame::kRowAlignment);
        layout.offset[plane] = offset;
        layout.stride[plane] = stride;
        offset = alignUp(offset + stride * static_cast<size_t>(size.rows),
                         WritableVideoFrame::kRowAlignment);
    }
    layout.totalBytes = offset;
    return layout;
}

std::shared_ptr<uint8_t> allocateAligned(size_t bytes) {
    constexpr auto kAlignment = std::align_val_t{WritableVideoFrame::kRowAlignment};
    auto* block = static_cast<uint8_t*>(::operator new(bytes, kAlignment));
    return std::shared_ptr<uint8_t>(block, [](uint8_t* p) { ::operator delete(p, kAlignment); });
}

std::shared_ptr<FrameStorage> storageInBlock(PixelFormat format, int width, int height,
                                             const AlignedLayout& layout,
                                             std::shared_ptr<uint8_t> block) {
    auto storage = std::make_shared<FrameStorage>();
    storage->format = format;
    storage->width = width;
    storage->height = height;
    for (int plane = 0; plane < hollowkit::planeCount(format); ++plane) {
        storage->data[plane] = block.get() + layout.offset[plane];
        storage->stride[plane] = layout.stride[plane];
    }
    storage->owner = std::move(block);
    return storage;
}

}  // namespace detail

// VideoFrame

VideoFrame VideoFrame::copyFrom(PixelFormat format, int width, int height,
                                std::span<const PlaneView> planes, TimePoint pts) {
    if (!planesMatch(format, width, height, planes)) {
        return {};
    }
    WritableVideoFrame target = WritableVideoFrame::allocate(format, width, height);
    for (int plane = 0; plane < hollowkit::planeCount(format); ++plane) {
        const PlaneSize size = planeSize(format, width, height, plane);
        const PlaneView& source = planes[plane];
        uint8_t* destination = target.planeData(plane);
        const size_t destinationStride = target.stride(plane);
        if (source.stride == destinationStride) {
            // One copy for the whole plane; the last row's padding may not
            // exist in the source, so it is left out.
            std::memcpy(destination, source.data,
                        source.stride * static_cast<size_t>(size.rows - 1) + size.rowBytes);
            continue;
        }
        for (int y = 0; y < size.rows; ++y) {
            std::memcpy(destination + destinationStride * static_cast<size_t>(y),
                        source.data + source.stride * static_cast<size_t>(y), size.rowBytes);
        }
    }
    return std::move(target).freeze(pts);
}

VideoFrame VideoFrame::wrap(PixelFormat format, int width, int height,
                            std::span<const PlaneView> planes, TimePoint pts,
                            std::shared_ptr<const void> owner) {
    if (!planesMatch(format, width, height, planes)) {
        return {};
    }
    auto storage = std::make_shared<detail::FrameStorage>();
    storage->format = format;
    storage->width = width;
    storage->height = height;
    for (size_t plane = 0; plane < planes.size(); ++plane) {
        // Never written through: the storage only hands out const pointers
        // once it sits behind a VideoFrame.
        storage->data[plane] = const_cast<uint8_t*>(planes[plane].data);
        storage->stride[plane] = planes[plane].stride;
    }
    storage->owner = std::move(owner);
    return VideoFrame(std::move(storage), pts);
}

PixelFormat VideoFrame::pixelFormat() const {
    return storage_ ? storage_->format : PixelFormat::none;
}

int VideoFrame::width() const {
    return storage_ ? storage_->width : 0;
}

int VideoFrame::height() const {
    return storage_ ? storage_->height : 0;
}

const uint8_t* VideoFrame::planeData(int plane) const {
    if (plane < 0 || plane >= planeCount()) {
        return nullptr;
    }
    return storage_->data[plane];
}

size_t VideoFrame::stride(int plane) const {
    if (plane < 0 || plane >= planeCount()) {
        return 0;
    }
    return storage_->stride[plane];
}

std::span<const uint8_t> VideoFrame::row(int plane, int y) const {
    const PlaneSize size = planeSize(pixelFormat(), width(), height(), plane);
    if (y < 0 || y >= size.rows) {
        return {};
    }
    return {storage_->data[plane] + storage_->stride[plane] * static_cast<size_t>(y), size.rowBytes};
}

VideoFrame VideoFrame::withPts(TimePoint pts) const {
    return VideoFrame(storage_, pts);
}

// WritableVideoFrame

WritableVideoFrame WritableVideoFrame::allocate(PixelFormat format, int width, int height) {
    if (!detail::validFrameSize(format, width, height)) {
        return {};
    }
    const detail::AlignedLayout layout = detail::alignedLayout(format, width, height);
    return WritableVideoFrame(detail::storageInBlock(format, width, height, layout,
                                                     detail::allocateAligned(layout.totalBytes)));
}

PixelFormat WritableVideoFrame::pixelFormat() const {
    return (storage_ ? *storage_ : kNoStorage).format;
}

int WritableVideoFrame::width() const {
    return (storage_ ? *storage_ : kNoStorage).width;
}

int WritableVideoFrame::height() const {
    return (storage_ ? *storage_ : kNoStorage).height;
}

uint8_t* WritableVideoFrame::planeData(int plane) {
    if (plane < 0 || plane >= planeCount(pixelFormat())) {
        return nullptr;
    }
    return storage_->data[plane];
}

size_t WritableVideoFrame::stride(int plane) const {
    if (plane < 0 || plane >= planeCount(pixelFormat())) {
        return 0;
    }
    return storage_->stride[plane];
}

std::span<uint8_t> WritableVideoFrame::row(int plane, int y) {
    const PlaneSize size = planeSize(pixelFormat(), width(), height(), plane);
    if (y < 0 || y >= size.rows) {
        return {};
    }
    return {storage_->data[plane] + storage_->stride[plane] * static_cast<size_t>(y), size.rowBytes};
}

VideoFrame WritableVideoFrame::freeze(TimePoint pts) && {
    if (!storage_) {
        return {};
    }
    return VideoFrame(std::shared_ptr<const detail::FrameStorage>(std::move(storage_)), pts);
}

}  // namespace hollowkit
