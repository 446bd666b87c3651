#pragma once

// Converts a picture of 4 bytes a pixel (B, G, R, unused: full-range sRGB,
// as the screen grabs and the colour look give it) into Y'CbCr 4:2:0 of the
// same size with BT.709 limited-range coefficients, chroma from the average
// of each 2 x 2 block. NV12 for the screen capture, three planes (I420) for
// the movie encoders, which take no interleaved chroma; both from one
// kernel, so they agree bit for bit. Plain integer arithmetic the compiler
// vectorises. Pure; any thread.

#include <cstddef>
#include <cstdint>

namespace hollowkit {

void convertBgrxToNv12(const uint8_t* bgrx, size_t bgrxStride, int width, int height, uint8_t* luma,
                       size_t lumaStride, uint8_t* chroma, size_t chromaStride);

// `cb` and `cr` are planes of (width + 1) / 2 by (height + 1) / 2 samples,
// each `chromaStride` bytes a row.
void convertBgrxToI420(const uint8_t* bgrx, size_t bgrxStride, int width, int height, uint8_t* luma,
                       size_t lumaStride, uint8_t* cb, uint8_t* cr, size_t chromaStride);

}  // namespace hollowkit
