#pragma once

// Internal to the media library: the shared pixel storage behind VideoFrame
// and WritableVideoFrame, and the aligned layout used for storage the library
// allocates itself. Not for use outside hollowkit/media.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "hollowkit/media/video_frame.h"

namespace hollowkit::detail {

struct FrameStorage {
    PixelFormat format = PixelFormat::none;
    int width = 0;
    int height = 0;
    std::array<uint8_t*, 2> data{};
    std::array<size_t, 2> stride{};
    // Keeps the pixel memory alive; its release frees or recycles it.
    std::shared_ptr<const void> owner;
};

// Where each plane starts in one block of library-allocated memory.
struct AlignedLayout {
    std::array<size_t, 2> offset{};
    std::array<size_t, 2> stride{};
    size_t totalBytes = 0;
};

bool validFrameSize(PixelFormat format, int width, int height);

// Rows and plane starts rounded up to WritableVideoFrame::kRowAlignment.
// Only for sizes that pass validFrameSize.
AlignedLayout alignedLayout(PixelFormat format, int width, int height);

// A block of `bytes` aligned to kRowAlignment, freed when the last reference goes.
std::shared_ptr<uint8_t> allocateAligned(size_t bytes);

// Storage whose planes lie in `block` as `layout` says.
std::shared_ptr<FrameStorage> storageInBlock(PixelFormat format, int width, int height,
                                             const AlignedLayout& layout,
                                             std::shared_ptr<uint8_t> block);

}  // namespace hollowkit::detail
