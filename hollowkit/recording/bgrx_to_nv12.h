#pragma once

// Converts a screen picture (B, G, R, unused: 4 bytes a pixel, full-range
// sRGB) into NV12 of the same size with BT.709 limited-range coefficients,
// chroma from the average of each 2 x 2 block. The fast path of the screen
// capture when no scaling is needed; plain integer arithmetic the compiler
// vectorises. Pure; any thread.

#include <cstddef>
#include <cstdint>

namespace hollowkit {

void convertBgrxToNv12(const uint8_t* bgrx, size_t bgrxStride, int width, int height, uint8_t* luma,
                       size_t lumaStride, uint8_t* chroma, size_t chromaStride);

}  // namespace hollowkit
