#include "lumenhollow/ui/window/nv12_display_scaler.h"

#include <algorithm>
#include <cmath>

// The row loops are written once and compiled twice: into a function built
// for AVX2 (whose gathers and 8-lane multiplies the vectoriser uses) and into
// a plain one. They must be inlined into both for that to happen.
#define LH_ROW_LOOP inline __attribute__((always_inline))

namespace lumenhollow {

namespace {

// BT.709, limited range, 20-bit fixed point: the same arithmetic as the
// library's tables, as linear terms the vector units can multiply.
constexpr int kFixedShift = 20;
constexpr double kFixedOne = double{1 << kFixedShift};
constexpr double kKr = 0.2126;
constexpr double kKb = 0.0722;
constexpr double kKg = 1.0 - kKr - kKb;
constexpr double kChromaScale = 255.0 / 224.0;
constexpr int32_t fixedPoint(double x) { return static_cast<int32_t>(x * kFixedOne + (x < 0 ? -0.5 : 0.5)); }
constexpr int32_t kLuma = fixedPoint(255.0 / 219.0);
constexpr int32_t kCrToR = fixedPoint(kChromaScale * 2.0 * (1.0 - kKr));
constexpr int32_t kCbToG = fixedPoint(-kChromaScale * 2.0 * (1.0 - kKb) * kKb / kKg);
constexpr int32_t kCrToG = fixedPoint(-kChromaScale * 2.0 * (1.0 - kKr) * kKr / kKg);
constexpr int32_t kCbToB = fixedPoint(kChromaScale * 2.0 * (1.0 - kKb));
constexpr int32_t kHalf = 1 << (kFixedShift - 1);

// Rows hold samples times 256; a bilinear step adds 8 more bits.
constexpr int kWeightOne = 256;
constexpr uint32_t kBilinearRound = 1u << 15;

LH_ROW_LOOP uint32_t channel(int32_t v) {
    return static_cast<uint32_t>(std::clamp(v >> kFixedShift, 0, 255));
}

LH_ROW_LOOP uint32_t bgraPixel(int32_t y, int32_t cb, int32_t cr) {
    const int32_t l = (y - 16) * kLuma + kHalf;
    const int32_t u = cb - 128;
    const int32_t v = cr - 128;
    return channel(l + u * kCbToB) | channel(l + u * kCbToG + v * kCrToG) << 8 | channel(l + v * kCrToR) << 16 |
           0xff000000u;
}

LH_ROW_LOOP void blendTwo(const uint8_t* __restrict a, const uint8_t* __restrict b, uint32_t wa, uint32_t wb, int n,
                          uint32_t* __restrict out) {
    for (int x = 0; x < n; ++x) out[x] = a[x] * wa + b[x] * wb;
}

LH_ROW_LOOP void addRow(const uint8_t* __restrict a, uint32_t w, int n, uint32_t* __restrict out) {
    for (int x = 0; x < n; ++x) out[x] += a[x] * w;
}

LH_ROW_LOOP void shiftRow(uint32_t* __restrict row, int n, int shift) {
    const uint32_t round = 1u << (shift - 1);
    for (int x = 0; x < n; ++x) row[x] = (row[x] + round) >> shift;
}

// One output row's vertical blend of `n` bytes across: the two effective
// rows around its position, each the average of its block of source rows.
LH_ROW_LOOP void verticalPass(const uint8_t* plane, size_t stride, int rows, const Nv12DisplayScaler::Axis& axis,
                              int index, int n, uint32_t* out) {
    const int block = 1 << axis.shift;
    const int first = axis.first[static_cast<size_t>(index)];
    const uint32_t w = static_cast<uint32_t>(axis.weight[static_cast<size_t>(index)]);
    const auto rowOf = [&](int effective, int i) {
        return plane + stride * static_cast<size_t>(std::min(effective * block + i, rows - 1));
    };
    if (block == 1) {
        blendTwo(rowOf(first, 0), rowOf(w ? first + 1 : first, 0), kWeightOne - w, w, n, out);
        return;
    }
    blendTwo(rowOf(first, 0), rowOf(first, 0), kWeightOne - w, 0, n, out);
    for (int i = 1; i < block; ++i) addRow(rowOf(first, i), kWeightOne - w, n, out);
    if (w) {
        for (int i = 0; i < block; ++i) addRow(rowOf(first + 1, i), w, n, out);
    }
    shiftRow(out, n, axis.shift);
}

// Averages blocks of 2^shift samples across (`channels` interleaved), then
// repeats the last sample once so a bilinear step at the edge stays inside.
LH_ROW_LOOP const uint32_t* acrossBlocks(uint32_t* row, int n, int channels, const Nv12DisplayScaler::Axis& axis,
                                         uint32_t* blocks) {
    if (axis.shift == 0) {
        for (int c = 0; c < channels; ++c) row[n * channels + c] = row[(n - 1) * channels + c];
        return row;
    }
    const int block = 1 << axis.shift;
    const uint32_t round = 1u << (axis.shift - 1);
    for (int e = 0; e < axis.effective; ++e) {
        for (int c = 0; c < channels; ++c) {
            uint32_t sum = 0;
            for (int i = 0; i < block; ++i) sum += row[std::min(e * block + i, n - 1) * channels + c];
            blocks[e * channels + c] = (sum + round) >> axis.shift;
        }
    }
    for (int c = 0; c < channels; ++c) {
        blocks[axis.effective * channels + c] = blocks[(axis.effective - 1) * channels + c];
    }
    return blocks;
}

LH_ROW_LOOP void chromaAcross(const uint32_t* __restrict row, const int32_t* __restrict index,
                              const int32_t* __restrict weight, int n, int32_t* __restrict cb,
                              int32_t* __restrict cr) {
    for (int x = 0; x < n; ++x) {
        const int32_t i = index[x];
        const uint32_t w = static_cast<uint32_t>(weight[x]);
        cb[x] = static_cast<int32_t>((row[i] * (kWeightOne - w) + row[i + 2] * w + kBilinearRound) >> 16);
        cr[x] = static_cast<int32_t>((row[i + 1] * (kWeightOne - w) + row[i + 3] * w + kBilinearRound) >> 16);
    }
}

LH_ROW_LOOP void lumaAcrossAndConvert(const uint32_t* __restrict row, const int32_t* __restrict index,
                                      const int32_t* __restrict weight, const int32_t* __restrict cb,
                                      const int32_t* __restrict cr, int n, uint32_t* __restrict out) {
    for (int x = 0; x < n; ++x) {
        const int32_t i = index[x];
        const uint32_t w = static_cast<uint32_t>(weight[x]);
        const auto y = static_cast<int32_t>((row[i] * (kWeightOne - w) + row[i + 1] * w + kBilinearRound) >> 16);
        out[x] = bgraPixel(y, cb[x], cr[x]);
    }
}

LH_ROW_LOOP void chromaAsIs(const uint8_t* __restrict uv, int n, int32_t* __restrict cb, int32_t* __restrict cr) {
    for (int s = 0; s < n / 2; ++s) {
        cb[2 * s] = cb[2 * s + 1] = uv[2 * s];
        cr[2 * s] = cr[2 * s + 1] = uv[2 * s + 1];
    }
    if (n % 2) {
        cb[n - 1] = uv[n - 1];
        cr[n - 1] = uv[n];
    }
}

LH_ROW_LOOP void convertAsIs(const uint8_t* __restrict y, const int32_t* __restrict cb, const int32_t* __restrict cr,
                             int n, uint32_t* __restrict out) {
    for (int x = 0; x < n; ++x) out[x] = bgraPixel(y[x], cb[x], cr[x]);
}

// Everything one draw needs, gathered so the two compiled copies share it.
struct ScalerWork {
    const Nv12Planes& source;
    const BgraTarget& target;
    const Nv12DisplayScaler::Axis& lumaX;
    const Nv12DisplayScaler::Axis& lumaY;
    const Nv12DisplayScaler::Axis& chromaX;
    const Nv12DisplayScaler::Axis& chromaY;
    const int32_t* chromaIndex;
    const int32_t* chromaWeight;
    uint32_t* lumaRow;
    uint32_t* lumaBlocks;
    uint32_t* chromaRow;
    uint32_t* chromaBlocks;
    int32_t* cb;
    int32_t* cr;
};

LH_ROW_LOOP uint32_t* outputRow(const BgraTarget& target, int row) {
    return reinterpret_cast<uint32_t*>(target.pixels + target.stride * static_cast<size_t>(row));
}

LH_ROW_LOOP void drawAsIs(const ScalerWork& w) {
    const Nv12Planes& s = w.source;
    for (int row = 0; row < s.height; ++row) {
        if (row % 2 == 0) chromaAsIs(s.chroma + s.chromaStride * static_cast<size_t>(row / 2), s.width, w.cb, w.cr);
        convertAsIs(s.luma + s.lumaStride * static_cast<size_t>(row), w.cb, w.cr, s.width, outputRow(w.target, row));
    }
}

LH_ROW_LOOP void drawScaled(const ScalerWork& w) {
    const Nv12Planes& s = w.source;
    const BgraTarget& t = w.target;
    const int chromaWidth = (s.width + 1) / 2;
    const int chromaHeight = (s.height + 1) / 2;
    // One chroma row serves two output rows.
    for (int row = 0; row < t.height; ++row) {
        if (row % 2 == 0) {
            verticalPass(s.chroma, s.chromaStride, chromaHeight, w.chromaY, row / 2, 2 * chromaWidth, w.chromaRow);
            const uint32_t* across = acrossBlocks(w.chromaRow, chromaWidth, 2, w.chromaX, w.chromaBlocks);
            chromaAcross(across, w.chromaIndex, w.chromaWeight, t.width, w.cb, w.cr);
        }
        verticalPass(s.luma, s.lumaStride, s.height, w.lumaY, row, s.width, w.lumaRow);
        const uint32_t* across = acrossBlocks(w.lumaRow, s.width, 1, w.lumaX, w.lumaBlocks);
        lumaAcrossAndConvert(across, w.lumaX.first.data(), w.lumaX.weight.data(), w.cb, w.cr, t.width,
                             outputRow(t, row));
    }
}

LH_ROW_LOOP void drawWith(const ScalerWork& w) {
    if (w.source.width == w.target.width && w.source.height == w.target.height) {
        drawAsIs(w);
    } else {
        drawScaled(w);
    }
}

__attribute__((target("avx2,fma"))) void drawAvx2(const ScalerWork& w) { drawWith(w); }

void drawPlain(const ScalerWork& w) { drawWith(w); }

}  // namespace

bool Nv12DisplayScaler::usesAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return avx2;
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
    const auto width = static_cast<size_t>(target.width);
    chromaIndex_.resize(width);
    chromaWeight_.resize(width);
    for (size_t x = 0; x < width; ++x) {
        chromaIndex_[x] = 2 * chromaX_.first[x / 2];
        chromaWeight_[x] = chromaX_.weight[x / 2];
    }
    // One spare sample (pair) past the end: the edge's bilinear neighbour.
    lumaRow_.resize(static_cast<size_t>(source.width) + 1);
    lumaBlocks_.resize(static_cast<size_t>(lumaX_.effective) + 1);
    chromaRow_.resize(2 * (static_cast<size_t>(chromaWidth) + 1));
    chromaBlocks_.resize(2 * (static_cast<size_t>(chromaX_.effective) + 1));
    cb_.resize(width);
    cr_.resize(width);
}

bool Nv12DisplayScaler::draw(const Nv12Planes& source, const BgraTarget& target) {
    if (source.width <= 0 || source.height <= 0 || target.width <= 0 || target.height <= 0 || !source.luma ||
        !source.chroma || !target.pixels) {
        return false;
    }
    plan(source, target);
    const ScalerWork work{source,         target,         lumaX_,          lumaY_,          chromaX_,
                          chromaY_,       chromaIndex_.data(), chromaWeight_.data(), lumaRow_.data(),
                          lumaBlocks_.data(), chromaRow_.data(), chromaBlocks_.data(), cb_.data(), cr_.data()};
    if (usesAvx2()) {
        drawAvx2(work);
    } else {
        drawPlain(work);
    }
    return true;
}

}  // namespace lumenhollow
