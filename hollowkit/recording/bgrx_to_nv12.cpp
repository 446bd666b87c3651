#include "hollowkit/recording/bgrx_to_nv12.h"

#include <algorithm>

namespace hollowkit {
namespace {

// BT.709 chroma coefficients scaled to limited range (224 / 255) in 14-bit
// fixed point; each row sums to zero.
constexpr int kShift = 14;
constexpr int kHalf = 1 << (kShift - 1);
constexpr int kUr = -1649, kUg = -5547, kUb = 7196;
constexpr int kVr = 7196, kVg = -6537, kVb = -659;

// Luma in 8-bit fixed point fits 16-bit lanes (at most 220 x 255 + 128),
// which the compiler packs twice as densely as 32-bit ones.
constexpr uint16_t kY8r = 47, kY8g = 157, kY8b = 16;

inline uint8_t lumaOf(const uint8_t* p) {
    const auto sum = static_cast<uint16_t>(kY8r * p[2] + kY8g * p[1] + kY8b * p[0] + 128);
    return static_cast<uint8_t>(16 + (sum >> 8));
}

// `Step` is the distance between neighbouring chroma samples of one plane:
// 2 for NV12's interleaved pairs, 1 for separate planes. A template, so each
// layout's loop is vectorised with a constant step.
template <int Step>
void convert(const uint8_t* bgrx, size_t bgrxStride, int width, int height, uint8_t* luma, size_t lumaStride,
             uint8_t* cb, uint8_t* cr, size_t chromaStride) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = bgrx + static_cast<size_t>(y) * bgrxStride;
        uint8_t* out = luma + static_cast<size_t>(y) * lumaStride;
        for (int x = 0; x < width; ++x) out[x] = lumaOf(in + 4 * x);
    }
    for (int cy = 0; cy < (height + 1) / 2; ++cy) {
        const uint8_t* top = bgrx + static_cast<size_t>(2 * cy) * bgrxStride;
        // An odd last row pairs with itself.
        const uint8_t* bottom = bgrx + static_cast<size_t>(std::min(2 * cy + 1, height - 1)) * bgrxStride;
        uint8_t* outCb = cb + static_cast<size_t>(cy) * chromaStride;
        uint8_t* outCr = cr + static_cast<size_t>(cy) * chromaStride;
        for (int cx = 0; cx < (width + 1) / 2; ++cx) {
            const int x0 = 4 * (2 * cx);
            const int x1 = 4 * std::min(2 * cx + 1, width - 1);
            // Sums of four pixels: coefficients times 4, so shift two more.
            const int b = top[x0] + top[x1] + bottom[x0] + bottom[x1];
            const int g = top[x0 + 1] + top[x1 + 1] + bottom[x0 + 1] + bottom[x1 + 1];
            const int r = top[x0 + 2] + top[x1 + 2] + bottom[x0 + 2] + bottom[x1 + 2];
            outCb[Step * cx] =
                static_cast<uint8_t>(128 + ((kUr * r + kUg * g + kUb * b + (kHalf << 2)) >> (kShift + 2)));
            outCr[Step * cx] =
                static_cast<uint8_t>(128 + ((kVr * r + kVg * g + kVb * b + (kHalf << 2)) >> (kShift + 2)));
        }
    }
}

}  // namespace

void convertBgrxToNv12(const uint8_t* bgrx, size_t bgrxStride, int width, int height, uint8_t* luma,
                       size_t lumaStride, uint8_t* chroma, size_t chromaStride) {
    convert<2>(bgrx, bgrxStride, width, height, luma, lumaStride, chroma, chroma + 1, chromaStride);
}

void convertBgrxToI420(const uint8_t* bgrx, size_t bgrxStride, int width, int height, uint8_t* luma,
                       size_t lumaStride, uint8_t* cb, uint8_t* cr, size_t chromaStride) {
    convert<1>(bgrx, bgrxStride, width, height, luma, lumaStride, cb, cr, chromaStride);
}

}  // namespace hollowkit
