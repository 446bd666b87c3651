#include "hollowkit/recording/bgrx_to_nv12.h"

#include <algorithm>
#include <cstring>

#include "hollowkit/imaging/bt709.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hollowkit {
namespace {

// Chroma coefficients in 14-bit fixed point. Each row must sum to zero (a
// grey has no chroma), so green, the largest, takes what rounding left over.
constexpr int kShift = 14;
constexpr int kHalf = 1 << (kShift - 1);
constexpr int kUr = bt709::fixedPoint(bt709::kRToCb, kShift);
constexpr int kUb = bt709::fixedPoint(bt709::kBToCb, kShift);
constexpr int kUg = -kUr - kUb;
constexpr int kVr = bt709::fixedPoint(bt709::kRToCr, kShift);
constexpr int kVb = bt709::fixedPoint(bt709::kBToCr, kShift);
constexpr int kVg = -kVr - kVb;

// Luma in 8-bit fixed point fits 16-bit lanes (at most 220 x 255 + 128),
// which the compiler packs twice as densely as 32-bit ones.
constexpr auto kY8r = static_cast<uint16_t>(bt709::fixedPoint(bt709::kRed * bt709::kLumaScale, 8));
constexpr auto kY8g = static_cast<uint16_t>(bt709::fixedPoint(bt709::kGreen * bt709::kLumaScale, 8));
constexpr auto kY8b = static_cast<uint16_t>(bt709::fixedPoint(bt709::kBlue * bt709::kLumaScale, 8));
static_assert(kY8r + kY8g + kY8b == 220, "white must reach luma 236 at most");

inline uint8_t lumaOf(const uint8_t* p) {
    const auto sum = static_cast<uint16_t>(kY8r * p[2] + kY8g * p[1] + kY8b * p[0] + 128);
    return static_cast<uint8_t>(16 + (sum >> 8));
}

#if defined(__SSE2__)
// Chroma of four samples (eight pixels of two rows) at once, the same sums
// and shifts as the plain loop below, so the two give the same bytes. The
// compiler leaves that loop scalar (each sample gathers from two rows and
// two pixels), and it was most of the conversion's time. Returns the
// samples done: all whole groups of four.
template <int Step>
int chromaRowSse2(const uint8_t* top, const uint8_t* bottom, int samples, uint8_t* outCb, uint8_t* outCr) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i cu = _mm_setr_epi16(kUb, kUg, kUr, 0, kUb, kUg, kUr, 0);
    const __m128i cv = _mm_setr_epi16(kVb, kVg, kVr, 0, kVb, kVg, kVr, 0);
    const __m128i round = _mm_set1_epi32(kHalf << 2);
    const __m128i middle = _mm_set1_epi32(128);
    // Two pixels of two rows as 16-bit B, G, R, X sums of each sample.
    const auto sampleSums = [&](const uint8_t* t, const uint8_t* b) {
        const __m128i vt = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
        const __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(vt, zero), _mm_unpacklo_epi8(vb, zero));
        const __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(vt, zero), _mm_unpackhi_epi8(vb, zero));
        return _mm_unpacklo_epi64(_mm_add_epi16(low, _mm_srli_si128(low, 8)),
                                  _mm_add_epi16(high, _mm_srli_si128(high, 8)));
    };
    // (b, g) and (r, x) products of four samples summed per sample.
    const auto weigh = [&](__m128i first, __m128i second, __m128i coefficients) {
        const __m128 a = _mm_castsi128_ps(_mm_madd_epi16(first, coefficients));
        const __m128 b = _mm_castsi128_ps(_mm_madd_epi16(second, coefficients));
        const __m128i even = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        return _mm_add_epi32(middle, _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(even, odd), round), kShift + 2));
    };
    int cx = 0;
    for (; cx + 4 <= samples; cx += 4) {
        const __m128i first = sampleSums(top + 8 * cx, bottom + 8 * cx);
        const __m128i second = sampleSums(top + 8 * cx + 16, bottom + 8 * cx + 16);
        const __m128i cb = weigh(first, second, cu);
        const __m128i cr = weigh(first, second, cv);
        if constexpr (Step == 2) {
            const __m128i pairs = _mm_unpacklo_epi16(_mm_packs_epi32(cb, cb), _mm_packs_epi32(cr, cr));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(outCb + 2 * cx), _mm_packus_epi16(pairs, pairs));
        } else {
            const __m128i bytesCb = _mm_packus_epi16(_mm_packs_epi32(cb, cb), zero);
            const __m128i bytesCr = _mm_packus_epi16(_mm_packs_epi32(cr, cr), zero);
            const int wordCb = _mm_cvtsi128_si32(bytesCb);
            const int wordCr = _mm_cvtsi128_si32(bytesCr);
            std::memcpy(outCb + cx, &wordCb, 4);
            std::memcpy(outCr + cx, &wordCr, 4);
        }
    }
    return cx;
}
#endif

#if defined(__SSE2__)
// Luma of sixteen pixels at once, the same sums and shift as lumaOf. Returns
// the pixels done: all whole groups of sixteen.
int lumaRowSse2(const uint8_t* in, int width, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights = _mm_setr_epi16(kY8b, kY8g, kY8r, 0, kY8b, kY8g, kY8r, 0);
    const __m128i round = _mm_set1_epi32(128);
    const __m128i black = _mm_set1_epi16(16);
    // Four pixels' weighted sums, shifted.
    const auto four = [&](const uint8_t* p) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128 a = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpacklo_epi8(v, zero), weights));
        const __m128 b = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpackhi_epi8(v, zero), weights));
        const __m128i sum = _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                                          _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
        return _mm_srli_epi32(_mm_add_epi32(sum, round), 8);
    };
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* p = in + 4 * x;
        const __m128i low = _mm_add_epi16(_mm_packs_epi32(four(p), four(p + 16)), black);
        const __m128i high = _mm_add_epi16(_mm_packs_epi32(four(p + 32), four(p + 48)), black);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(low, high));
    }
    return x;
}
#endif

// `Step` is the distance between neighbouring chroma samples of one plane:
// 2 for NV12's interleaved pairs, 1 for separate planes. A template, so each
// layout's loop is vectorised with a constant step.
template <int Step>
void convert(const uint8_t* bgrx, size_t bgrxStride, int width, int height, uint8_t* luma, size_t lumaStride,
             uint8_t* cb, uint8_t* cr, size_t chromaStride) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = bgrx + static_cast<size_t>(y) * bgrxStride;
        uint8_t* out = luma + static_cast<size_t>(y) * lumaStride;
        int x = 0;
#if defined(__SSE2__)
        x = lumaRowSse2(in, width, out);
#endif
        for (; x < width; ++x) out[x] = lumaOf(in + 4 * x);
    }
    for (int cy = 0; cy < (height + 1) / 2; ++cy) {
        const uint8_t* top = bgrx + static_cast<size_t>(2 * cy) * bgrxStride;
        // An odd last row pairs with itself.
        const uint8_t* bottom = bgrx + static_cast<size_t>(std::min(2 * cy + 1, height - 1)) * bgrxStride;
        uint8_t* outCb = cb + static_cast<size_t>(cy) * chromaStride;
        uint8_t* outCr = cr + static_cast<size_t>(cy) * chromaStride;
        int cx = 0;
#if defined(__SSE2__)
        // Whole pixel pairs only; an odd last column pairs with itself below.
        cx = chromaRowSse2<Step>(top, bottom, width / 2, outCb, outCr);
#endif
        for (; cx < (width + 1) / 2; ++cx) {
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
