#include "hollowkit/imaging/nv12_display_scaler.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define HK_SCALER_AVX2 1
#else
#define HK_SCALER_AVX2 0
#endif

#include <algorithm>
#include <cmath>

#include "hollowkit/imaging/bt709.h"

// The scaling loops are written once and compiled twice: into a function
// built for AVX2 and into a plain one, and must be inlined into both for the
// vectoriser to use each one's units. The colour conversion, where most of
// the time goes, is written with AVX2 intrinsics, with a plain loop doing
// the same arithmetic for the rest of a row and for processors without them.
#define LH_ROW_LOOP inline __attribute__((always_inline))

namespace hollowkit {

namespace {

// BT.709, limited range, in the 16-bit arithmetic the vector units do eight
// or sixteen at a time: each channel in units of 1/64, products as the high
// half of 16×16-bit multiplies, sums saturating. Within one step of the
// library's 20-bit tables. A gain above one is split into a shift and the
// rest, which fits a signed 16-bit factor.
constexpr auto kLumaRest = static_cast<int16_t>(bt709::fixedPoint(bt709::kLumaGain - 1, 6 + 9));
constexpr auto kCrToR = static_cast<int16_t>(bt709::fixedPoint(bt709::kCrToR, 6 + 8));
constexpr auto kCbToG = static_cast<int16_t>(bt709::fixedPoint(bt709::kCbToG, 6 + 8));
constexpr auto kCrToG = static_cast<int16_t>(bt709::fixedPoint(bt709::kCrToG, 6 + 8));
constexpr auto kCbToBRest = static_cast<int16_t>(bt709::fixedPoint(bt709::kCbToB - 2, 6 + 8));
constexpr int16_t kBlack = bt709::kLumaBlack;
constexpr int16_t kZero = bt709::kChromaZero;

// Rows after the vertical step hold samples times 128 (fits a signed
// 16-bit lane); the horizontal step adds 8 bits of weight.
constexpr int kWeightOne = 256;
constexpr int kAcrossShift = 15;

LH_ROW_LOOP int16_t saturate16(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
LH_ROW_LOOP int16_t highHalf(int16_t a, int16_t b) { return static_cast<int16_t>((int32_t{a} * b) >> 16); }

LH_ROW_LOOP uint32_t channel(int16_t v) {
    return static_cast<uint32_t>(std::clamp(saturate16(v + 32) >> 6, 0, 255));
}

// One pixel, the same arithmetic as the vector code lane for lane.
LH_ROW_LOOP uint32_t bgraPixel(int32_t y, int32_t cb, int32_t cr) {
    const auto luma = static_cast<int16_t>(y - kBlack);
    const auto u = static_cast<int16_t>(cb - kZero);
    const auto v = static_cast<int16_t>(cr - kZero);
    const int16_t l = saturate16((luma << 6) + highHalf(static_cast<int16_t>(luma << 7), kLumaRest));
    const auto u8 = static_cast<int16_t>(u * 256);
    const auto v8 = static_cast<int16_t>(v * 256);
    const int16_t r = saturate16(l + highHalf(v8, kCrToR));
    const int16_t g = saturate16(l + saturate16(highHalf(u8, kCbToG) + highHalf(v8, kCrToG)));
    const int16_t b = saturate16(saturate16(l + u * 128) + highHalf(u8, kCbToBRest));
    return channel(b) | channel(g) << 8 | channel(r) << 16 | 0xff000000u;
}

#if HK_SCALER_AVX2
// A channel in 1/64 units to 0…255, still one per 16-bit lane.
__attribute__((target("avx2"))) inline __m256i channel16(__m256i c) {
    const __m256i shifted = _mm256_srai_epi16(_mm256_adds_epi16(c, _mm256_set1_epi16(32)), 6);
    return _mm256_min_epi16(_mm256_max_epi16(shifted, _mm256_setzero_si256()), _mm256_set1_epi16(255));
}

__attribute__((target("avx2"))) inline void storeBgra16(__m256i y, __m256i u, __m256i v, uint32_t* out) {
    const __m256i luma = _mm256_sub_epi16(y, _mm256_set1_epi16(kBlack));
    const __m256i cb = _mm256_sub_epi16(u, _mm256_set1_epi16(kZero));
    const __m256i cr = _mm256_sub_epi16(v, _mm256_set1_epi16(kZero));
    const __m256i l = _mm256_adds_epi16(_mm256_slli_epi16(luma, 6),
                                        _mm256_mulhi_epi16(_mm256_slli_epi16(luma, 7), _mm256_set1_epi16(kLumaRest)));
    const __m256i cb8 = _mm256_slli_epi16(cb, 8);
    const __m256i cr8 = _mm256_slli_epi16(cr, 8);
    const __m256i r = _mm256_adds_epi16(l, _mm256_mulhi_epi16(cr8, _mm256_set1_epi16(kCrToR)));
    const __m256i g = _mm256_adds_epi16(l, _mm256_adds_epi16(_mm256_mulhi_epi16(cb8, _mm256_set1_epi16(kCbToG)),
                                                             _mm256_mulhi_epi16(cr8, _mm256_set1_epi16(kCrToG))));
    const __m256i b = _mm256_adds_epi16(_mm256_adds_epi16(l, _mm256_slli_epi16(cb, 7)),
                                        _mm256_mulhi_epi16(cb8, _mm256_set1_epi16(kCbToBRest)));
    const __m256i bg = _mm256_or_si256(channel16(b), _mm256_slli_epi16(channel16(g), 8));
    const __m256i ra = _mm256_or_si256(channel16(r), _mm256_set1_epi16(static_cast<int16_t>(0xff00)));
    const __m256i low = _mm256_unpacklo_epi16(bg, ra);   // pixels 0–3, 8–11
    const __m256i high = _mm256_unpackhi_epi16(bg, ra);  // pixels 4–7, 12–15
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(low, high, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8), _mm256_permute2x128_si256(low, high, 0x31));
}

// Eight chroma samples, each for two neighbouring pixels.
__attribute__((target("avx2"))) inline __m256i twice(const int16_t* chroma) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chroma));
    return _mm256_set_m128i(_mm_unpackhi_epi16(c, c), _mm_unpacklo_epi16(c, c));
}

// Luma bytes at their own size; `cb`/`cr` per chroma sample.
__attribute__((target("avx2"))) void convertBytesAvx2(const uint8_t* y, const int16_t* cb, const int16_t* cr, int n,
                                                      uint32_t* out) {
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i luma = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)));
        storeBgra16(luma, twice(cb + x / 2), twice(cr + x / 2), out + x);
    }
    for (; x < n; ++x) out[x] = bgraPixel(y[x], cb[x / 2], cr[x / 2]);
}

// Luma sampled across a row of 16-bit samples: each output pixel reads the
// pair at `index` with the packed weights (256 − w, w) in one multiply-add.
// Four neighbouring outputs never reach more than seven samples apart (the
// step across is under two), so their pairs come out of one 16-byte load by
// a byte shuffle made once per size (`shuffles`, 16 bytes per four pixels).
__attribute__((target("avx2"))) inline __m256i pairsOfEight(const int16_t* row, const int32_t* index,
                                                           const uint8_t* shuffles, int x) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + index[x]));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + index[x + 4]));
    return _mm256_shuffle_epi8(_mm256_set_m128i(high, low),
                               _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shuffles + 4 * x)));
}

__attribute__((target("avx2"))) void convertAcrossAvx2(const int16_t* row, const int32_t* index,
                                                       const uint32_t* weights, const uint8_t* shuffles,
                                                       const int16_t* cb, const int16_t* cr, int n, uint32_t* out) {
    const __m256i round = _mm256_set1_epi32(1 << (kAcrossShift - 1));
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i pairs0 = pairsOfEight(row, index, shuffles, x);
        const __m256i pairs1 = pairsOfEight(row, index, shuffles, x + 8);
        const __m256i w0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + x));
        const __m256i w1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weights + x + 8));
        const __m256i y0 = _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(pairs0, w0), round), kAcrossShift);
        const __m256i y1 = _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(pairs1, w1), round), kAcrossShift);
        // The pack works within each 128-bit half; put the pixels back in order.
        const __m256i luma = _mm256_permute4x64_epi64(_mm256_packus_epi32(y0, y1), 0xd8);
        storeBgra16(luma, twice(cb + x / 2), twice(cr + x / 2), out + x);
    }
    for (; x < n; ++x) {
        const uint32_t w = weights[x] >> 16;
        const auto i = static_cast<size_t>(index[x]);
        const int32_t y = (row[i] * static_cast<int32_t>(kWeightOne - w) + row[i + 1] * static_cast<int32_t>(w) +
                           (1 << (kAcrossShift - 1))) >>
                          kAcrossShift;
        out[x] = bgraPixel(y, cb[x / 2], cr[x / 2]);
    }
}

#endif  // HK_SCALER_AVX2

LH_ROW_LOOP void convertBytesPlain(const uint8_t* y, const int16_t* cb, const int16_t* cr, int n, uint32_t* out) {
    for (int x = 0; x < n; ++x) out[x] = bgraPixel(y[x], cb[x / 2], cr[x / 2]);
}

LH_ROW_LOOP void convertAcrossPlain(const int16_t* row, const int32_t* index, const uint32_t* weights,
                                    const int16_t* cb, const int16_t* cr, int n, uint32_t* out) {
    for (int x = 0; x < n; ++x) {
        const int32_t w = static_cast<int32_t>(weights[x] >> 16);
        const auto i = static_cast<size_t>(index[x]);
        const int32_t y = (row[i] * (kWeightOne - w) + row[i + 1] * w + (1 << (kAcrossShift - 1))) >> kAcrossShift;
        out[x] = bgraPixel(y, cb[x / 2], cr[x / 2]);
    }
}

LH_ROW_LOOP void blendTwo(const uint8_t* __restrict a, const uint8_t* __restrict b, uint16_t wa, uint16_t wb, int n,
                          int16_t* __restrict out) {
    // a·wa + b·wb ≤ 255·256 fits 16 bits unsigned; halved it fits a signed lane.
    for (int x = 0; x < n; ++x) {
        out[x] = static_cast<int16_t>(static_cast<uint16_t>(a[x] * wa + b[x] * wb + 1) >> 1);
    }
}

LH_ROW_LOOP void firstRow(const uint8_t* __restrict a, uint32_t w, int n, uint32_t* __restrict sum) {
    for (int x = 0; x < n; ++x) sum[x] = a[x] * w;
}

LH_ROW_LOOP void addRow(const uint8_t* __restrict a, uint32_t w, int n, uint32_t* __restrict sum) {
    for (int x = 0; x < n; ++x) sum[x] += a[x] * w;
}

LH_ROW_LOOP void narrowRow(const uint32_t* __restrict sum, int n, int shift, int16_t* __restrict out) {
    const uint32_t round = 1u << (shift - 1);
    for (int x = 0; x < n; ++x) out[x] = static_cast<int16_t>((sum[x] + round) >> shift);
}

// One output row's vertical blend of `n` bytes across: the two effective
// rows around its position, each the average of its block of source rows.
LH_ROW_LOOP void verticalPass(const uint8_t* plane, size_t stride, int rows, const Nv12DisplayScaler::Axis& axis,
                              int index, int n, uint32_t* sum, int16_t* out) {
    const int block = 1 << axis.shift;
    const int first = axis.first[static_cast<size_t>(index)];
    const auto w = static_cast<uint32_t>(axis.weight[static_cast<size_t>(index)]);
    const auto rowOf = [&](int effective, int i) {
        return plane + stride * static_cast<size_t>(std::min(effective * block + i, rows - 1));
    };
    if (block == 1) {
        blendTwo(rowOf(first, 0), rowOf(w ? first + 1 : first, 0), static_cast<uint16_t>(kWeightOne - w),
                 static_cast<uint16_t>(w), n, out);
        return;
    }
    firstRow(rowOf(first, 0), kWeightOne - w, n, sum);
    for (int i = 1; i < block; ++i) addRow(rowOf(first, i), kWeightOne - w, n, sum);
    if (w) {
        for (int i = 0; i < block; ++i) addRow(rowOf(first + 1, i), w, n, sum);
    }
    narrowRow(sum, n, axis.shift + 1, out);
}

// Averages blocks of 2^shift samples across (`channels` interleaved), then
// repeats the last sample once so a bilinear step at the edge stays inside.
LH_ROW_LOOP const int16_t* acrossBlocks(int16_t* row, int n, int channels, const Nv12DisplayScaler::Axis& axis,
                                        int16_t* blocks) {
    if (axis.shift == 0) {
        for (int c = 0; c < channels; ++c) row[n * channels + c] = row[(n - 1) * channels + c];
        return row;
    }
    const int block = 1 << axis.shift;
    const int32_t round = 1 << (axis.shift - 1);
    int e = 0;
    if (axis.shift == 1) {
        // Halving, the common case (a preview a quarter of the camera's
        // width): pairs of whole samples, which the vectoriser takes.
        const int whole = n / 2;
        for (; e < whole; ++e) {
            for (int c = 0; c < channels; ++c) {
                blocks[e * channels + c] = static_cast<int16_t>(
                    (row[2 * e * channels + c] + row[(2 * e + 1) * channels + c] + 1) >> 1);
            }
        }
    }
    for (; e < axis.effective; ++e) {
        for (int c = 0; c < channels; ++c) {
            int32_t sum = 0;
            for (int i = 0; i < block; ++i) sum += row[std::min(e * block + i, n - 1) * channels + c];
            blocks[e * channels + c] = static_cast<int16_t>((sum + round) >> axis.shift);
        }
    }
    for (int c = 0; c < channels; ++c) {
        blocks[axis.effective * channels + c] = blocks[(axis.effective - 1) * channels + c];
    }
    return blocks;
}

LH_ROW_LOOP void chromaAcross(const int16_t* __restrict row, const int32_t* __restrict first,
                              const int32_t* __restrict weight, int n, int16_t* __restrict cb,
                              int16_t* __restrict cr) {
    for (int x = 0; x < n; ++x) {
        const int32_t i = 2 * first[x];
        const int32_t w = weight[x];
        cb[x] = static_cast<int16_t>((row[i] * (kWeightOne - w) + row[i + 2] * w + (1 << (kAcrossShift - 1))) >>
                                     kAcrossShift);
        cr[x] = static_cast<int16_t>((row[i + 1] * (kWeightOne - w) + row[i + 3] * w + (1 << (kAcrossShift - 1))) >>
                                     kAcrossShift);
    }
}

LH_ROW_LOOP void chromaAsIs(const uint8_t* __restrict uv, int n, int16_t* __restrict cb, int16_t* __restrict cr) {
    for (int s = 0; s < n; ++s) {
        cb[s] = uv[2 * s];
        cr[s] = uv[2 * s + 1];
    }
}

}  // namespace

// Everything one draw needs, gathered so the two compiled copies share it.
struct ScalerWork {
    const Nv12Planes& source;
    const BgraTarget& target;
    const Nv12DisplayScaler::Axis& lumaX;
    const Nv12DisplayScaler::Axis& lumaY;
    const Nv12DisplayScaler::Axis& chromaX;
    const Nv12DisplayScaler::Axis& chromaY;
    const uint32_t* lumaWeights;
    const uint8_t* lumaShuffles;
    uint32_t* sums;
    int16_t* lumaRow;
    int16_t* lumaBlocks;
    int16_t* chromaRow;
    int16_t* chromaBlocks;
    int16_t* cb;
    int16_t* cr;
};

namespace {

LH_ROW_LOOP uint32_t* outputRow(const BgraTarget& target, int row) {
    return reinterpret_cast<uint32_t*>(target.pixels + target.stride * static_cast<size_t>(row));
}

template <bool kAvx2>
LH_ROW_LOOP void drawAsIs(const ScalerWork& w) {
    const Nv12Planes& s = w.source;
    const int chromaWidth = (s.width + 1) / 2;
    for (int row = 0; row < s.height; ++row) {
        if (row % 2 == 0) chromaAsIs(s.chroma + s.chromaStride * static_cast<size_t>(row / 2), chromaWidth, w.cb, w.cr);
        const uint8_t* luma = s.luma + s.lumaStride * static_cast<size_t>(row);
#if HK_SCALER_AVX2
        if constexpr (kAvx2) {
            convertBytesAvx2(luma, w.cb, w.cr, s.width, outputRow(w.target, row));
            continue;
        }
#endif
        convertBytesPlain(luma, w.cb, w.cr, s.width, outputRow(w.target, row));
    }
}

template <bool kAvx2>
LH_ROW_LOOP void drawScaled(const ScalerWork& w) {
    const Nv12Planes& s = w.source;
    const BgraTarget& t = w.target;
    const int chromaWidth = (s.width + 1) / 2;
    const int chromaHeight = (s.height + 1) / 2;
    const int chromaOut = (t.width + 1) / 2;
    // One chroma row serves two output rows.
    for (int row = 0; row < t.height; ++row) {
        if (row % 2 == 0) {
            verticalPass(s.chroma, s.chromaStride, chromaHeight, w.chromaY, row / 2, 2 * chromaWidth, w.sums,
                         w.chromaRow);
            const int16_t* across = acrossBlocks(w.chromaRow, chromaWidth, 2, w.chromaX, w.chromaBlocks);
            chromaAcross(across, w.chromaX.first.data(), w.chromaX.weight.data(), chromaOut, w.cb, w.cr);
        }
        verticalPass(s.luma, s.lumaStride, s.height, w.lumaY, row, s.width, w.sums, w.lumaRow);
        const int16_t* across = acrossBlocks(w.lumaRow, s.width, 1, w.lumaX, w.lumaBlocks);
#if HK_SCALER_AVX2
        if constexpr (kAvx2) {
            convertAcrossAvx2(across, w.lumaX.first.data(), w.lumaWeights, w.lumaShuffles, w.cb, w.cr, t.width,
                              outputRow(t, row));
            continue;
        }
#endif
        convertAcrossPlain(across, w.lumaX.first.data(), w.lumaWeights, w.cb, w.cr, t.width, outputRow(t, row));
    }
}

template <bool kAvx2>
LH_ROW_LOOP void drawWith(const ScalerWork& w) {
    if (w.source.width == w.target.width && w.source.height == w.target.height) {
        drawAsIs<kAvx2>(w);
    } else {
        drawScaled<kAvx2>(w);
    }
}

#if HK_SCALER_AVX2
__attribute__((target("avx2"))) void drawAvx2(const ScalerWork& w) { drawWith<true>(w); }
#endif

void drawPlain(const ScalerWork& w) { drawWith<false>(w); }

}  // namespace

bool Nv12DisplayScaler::usesAvx2() {
#if HK_SCALER_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

void Nv12DisplayScaler::planAxis(Axis& axis, int source, int output) {
    axis.shift = 0;
    while (static_cast<int64_t>(output) << (axis.shift + 1) <= source) ++axis.shift;
    axis.effective = (source + (1 << axis.shift) - 1) >> axis.shift;
    axis.first.resize(static_cast<size_t>(output));
    axis.weight.resize(static_cast<size_t>(output));
    // Pixel centres meet pixel centres, as the image libraries scale.
    const double step = static_cast<double>(source) / (1 << axis.shift) / output;
    for (int i = 0; i < output; ++i) {
        const double at = std::clamp((i + 0.5) * step - 0.5, 0.0, static_cast<double>(axis.effective - 1));
        int first = static_cast<int>(at);
        int weight = static_cast<int>(std::lround((at - first) * kWeightOne));
        if (weight == kWeightOne) {
            ++first;
            weight = 0;
        }
        axis.first[static_cast<size_t>(i)] = first;
        axis.weight[static_cast<size_t>(i)] = weight;
    }
}

void Nv12DisplayScaler::plan(const Nv12Planes& source, const BgraTarget& target) {
    if (source.width == sourceWidth_ && source.height == sourceHeight_ && target.width == outputWidth_ &&
        target.height == outputHeight_) {
        return;
    }
    sourceWidth_ = source.width;
    sourceHeight_ = source.height;
    outputWidth_ = target.width;
    outputHeight_ = target.height;
    const int chromaWidth = (source.width + 1) / 2;
    planAxis(lumaX_, source.width, target.width);
    planAxis(lumaY_, source.height, target.height);
    planAxis(chromaX_, chromaWidth, (target.width + 1) / 2);
    planAxis(chromaY_, (source.height + 1) / 2, (target.height + 1) / 2);
    lumaWeights_.resize(static_cast<size_t>(target.width));
    for (size_t x = 0; x < lumaWeights_.size(); ++x) {
        const auto w = static_cast<uint32_t>(lumaX_.weight[x]);
        lumaWeights_[x] = (kWeightOne - w) | w << 16;
    }
    // Per four output pixels, the bytes of their four pairs within one
    // 16-byte load at the first one's index.
    lumaShuffles_.assign(4 * ((static_cast<size_t>(target.width) + 3) / 4 * 4), 0);
    for (size_t group = 0; group * 4 < static_cast<size_t>(target.width); ++group) {
        const int32_t base = lumaX_.first[4 * group];
        for (size_t k = 0; k < 4 && 4 * group + k < static_cast<size_t>(target.width); ++k) {
            const int32_t offset = 2 * (lumaX_.first[4 * group + k] - base);
            for (size_t byte = 0; byte < 4; ++byte) {
                lumaShuffles_[16 * group + 4 * k + byte] = static_cast<uint8_t>(std::min(offset + static_cast<int>(byte), 15));
            }
        }
    }
    // Spare samples past the end: the edge's bilinear neighbour, and the
    // rest of a 16-byte load that starts at the last one.
    constexpr size_t kSpare = 8;
    const size_t across = std::max(static_cast<size_t>(source.width), 2 * static_cast<size_t>(chromaWidth));
    sums_.resize(across);
    lumaRow_.resize(static_cast<size_t>(source.width) + kSpare);
    lumaBlocks_.resize(static_cast<size_t>(lumaX_.effective) + kSpare);
    chromaRow_.resize(2 * (static_cast<size_t>(chromaWidth) + 1));
    chromaBlocks_.resize(2 * (static_cast<size_t>(chromaX_.effective) + 1));
    // Per chroma sample of the output (the same size as the source's when
    // drawn as it is).
    const size_t chromaSamples = std::max(static_cast<size_t>(chromaWidth), static_cast<size_t>(target.width + 1) / 2);
    cb_.resize(chromaSamples);
    cr_.resize(chromaSamples);
}

bool Nv12DisplayScaler::draw(const Nv12Planes& source, const BgraTarget& target) {
    if (source.width <= 0 || source.height <= 0 || target.width <= 0 || target.height <= 0 || !source.luma ||
        !source.chroma || !target.pixels) {
        return false;
    }
    plan(source, target);
    const ScalerWork work{source,          target,         lumaX_,           lumaY_,
                          chromaX_,        chromaY_,       lumaWeights_.data(), lumaShuffles_.data(), sums_.data(),
                          lumaRow_.data(), lumaBlocks_.data(), chromaRow_.data(), chromaBlocks_.data(),
                          cb_.data(),      cr_.data()};
#if HK_SCALER_AVX2
    if (vectorUnits_ && usesAvx2()) {
        drawAvx2(work);
        return true;
    }
#else
    static_cast<void>(vectorUnits_);
#endif
    drawPlain(work);
    return true;
}

}  // namespace hollowkit
