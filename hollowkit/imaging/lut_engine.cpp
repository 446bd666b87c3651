#include "hollowkit/imaging/lut_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "hollowkit/imaging/nv12_tables.h"
#include "hollowkit/imaging/row_workers.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define HOLLOWKIT_LUT_X86 1
#endif

namespace hollowkit {

namespace {

// pmulhrsw: (a·b + 2^14) >> 15, the rounding Q15 product every loop uses so
// the portable and vector loops agree bit for bit.
inline int mulQ15(int a, int b) { return (a * b + (1 << 14)) >> 15; }

inline uint8_t toByte(int v) { return static_cast<uint8_t>(std::clamp((v + 32) >> 6, 0, 255)); }

#ifdef HOLLOWKIT_LUT_X86
bool cpuHasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

// The view of an engine a pixel loop needs, gathered once per band.
struct LutView {
    const int16_t* table;
    ptrdiff_t stepG;  // in int16 elements
    ptrdiff_t stepB;
    const uint32_t* offR;
    const uint32_t* offG;
    const uint32_t* offB;
    const int16_t* wR;
    const int16_t* wG;
    const int16_t* wB;
    const int16_t* wideR;  // 8 lanes per level
    const int16_t* wideG;
    const int16_t* wideB;

    // Portable trilinear map of one pixel to B, G, R bytes.
    void mapPortable(uint8_t r, uint8_t g, uint8_t b, uint8_t* out) const {
        const int16_t* p = table + 4 * static_cast<ptrdiff_t>(offR[r] + offG[g] + offB[b]);
        const int wr = wR[r];
        const int wg = wG[g];
        const int wb = wB[b];
        for (int c = 0; c < 3; ++c) {
            const int16_t* q = p + c;
            // Same order as the vector loop: green, then blue, then red.
            const int a0 = q[0], a1 = q[4];
            const int b0 = q[stepG], b1 = q[stepG + 4];
            const int c0 = q[stepB], c1 = q[stepB + 4];
            const int d0 = q[stepG + stepB], d1 = q[stepG + stepB + 4];
            const int ab0 = a0 + mulQ15(b0 - a0, wg), ab1 = a1 + mulQ15(b1 - a1, wg);
            const int cd0 = c0 + mulQ15(d0 - c0, wg), cd1 = c1 + mulQ15(d1 - c1, wg);
            const int e0 = ab0 + mulQ15(cd0 - ab0, wb), e1 = ab1 + mulQ15(cd1 - ab1, wb);
            out[c] = toByte(e0 + mulQ15(e1 - e0, wr));
        }
    }
};

}  // namespace

#ifdef HOLLOWKIT_LUT_X86

namespace {

#define HK_SSSE3 __attribute__((target("ssse3"), always_inline)) inline

// One pixel through the table: B, G, R, 0 in the low four 16-bit lanes.
HK_SSSE3 __m128i mapSsse3(const LutView& v, uint32_t r, uint32_t g, uint32_t b) {
    const int16_t* p = v.table + 4 * static_cast<ptrdiff_t>(v.offR[r] + v.offG[g] + v.offB[b]);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i bb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + v.stepG));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + v.stepB));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + v.stepG + v.stepB));
    const __m128i wg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.wideG + 8 * g));
    const __m128i wb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.wideB + 8 * b));
    const __m128i wr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v.wideR + 8 * r));
    const __m128i ab = _mm_add_epi16(a, _mm_mulhrs_epi16(_mm_sub_epi16(bb, a), wg));
    const __m128i cd = _mm_add_epi16(c, _mm_mulhrs_epi16(_mm_sub_epi16(d, c), wg));
    const __m128i e = _mm_add_epi16(ab, _mm_mulhrs_epi16(_mm_sub_epi16(cd, ab), wb));
    const __m128i f =
        _mm_add_epi16(e, _mm_mulhrs_epi16(_mm_sub_epi16(_mm_srli_si128(e, 8), e), wr));
    return _mm_srai_epi16(_mm_add_epi16(f, _mm_set1_epi16(32)), 6);
}

// Two mapped pixels as 8 bytes B G R 0 B G R 0.
HK_SSSE3 uint64_t packTwo(__m128i first, __m128i second) {
    const __m128i both = _mm_unpacklo_epi64(first, second);
    return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_packus_epi16(both, both)));
}

HK_SSSE3 uint32_t packOne(__m128i one) {
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(one, one)));
}

__attribute__((target("ssse3"))) void bgraRowSsse3(const LutView& v, const uint8_t* src,
                                                   uint8_t* dst, int width) {
    int x = 0;
    for (; x + 2 <= width; x += 2) {
        uint64_t in;
        std::memcpy(&in, src + 4 * x, 8);
        const auto p0 = static_cast<uint32_t>(in);
        const auto p1 = static_cast<uint32_t>(in >> 32);
        const __m128i m0 = mapSsse3(v, (p0 >> 16) & 0xFF, (p0 >> 8) & 0xFF, p0 & 0xFF);
        const __m128i m1 = mapSsse3(v, (p1 >> 16) & 0xFF, (p1 >> 8) & 0xFF, p1 & 0xFF);
        const uint64_t out = packTwo(m0, m1) | (in & 0xFF000000FF000000ull);
        std::memcpy(dst + 4 * x, &out, 8);
    }
    if (x < width) {
        uint32_t p;
        std::memcpy(&p, src + 4 * x, 4);
        const uint32_t out =
            packOne(mapSsse3(v, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF)) | (p & 0xFF000000u);
        std::memcpy(dst + 4 * x, &out, 4);
    }
}

__attribute__((target("ssse3"))) void nv12RowSsse3(const LutView& v, const uint8_t* yRow,
                                                   const uint8_t* uvRow, uint8_t* dst,
                                                   int width) {
    const nv12::Tables& t = nv12::Tables::get();
    int x = 0;
    for (; x + 2 <= width; x += 2) {
        const nv12::Chroma c = nv12::chroma(t, uvRow[x], uvRow[x + 1]);
        const nv12::Rgb8 q0 = nv12::pixel(t, yRow[x], c);
        const nv12::Rgb8 q1 = nv12::pixel(t, yRow[x + 1], c);
        const uint64_t out = packTwo(mapSsse3(v, q0.r, q0.g, q0.b), mapSsse3(v, q1.r, q1.g, q1.b)) |
                             0xFF000000FF000000ull;
        std::memcpy(dst + 4 * x, &out, 8);
    }
    if (x < width) {
        const nv12::Rgb8 q = nv12::pixel(t, yRow[x], nv12::chroma(t, uvRow[x], uvRow[x + 1]));
        const uint32_t out = packOne(mapSsse3(v, q.r, q.g, q.b)) | 0xFF000000u;
        std::memcpy(dst + 4 * x, &out, 4);
    }
}

#undef HK_SSSE3

}  // namespace

#endif  // HOLLOWKIT_LUT_X86

namespace {

void bgraRowPortable(const LutView& v, const uint8_t* src, uint8_t* dst, int width) {
    for (int x = 0; x < width; ++x, src += 4, dst += 4) {
        v.mapPortable(src[2], src[1], src[0], dst);
        dst[3] = src[3];
    }
}

void nv12RowPortable(const LutView& v, const uint8_t* yRow, const uint8_t* uvRow, uint8_t* dst,
                     int width) {
    const nv12::Tables& t = nv12::Tables::get();
    for (int x = 0; x < width; ++x, dst += 4) {
        const nv12::Rgb8 q = nv12::pixel(t, yRow[x], nv12::chroma(t, uvRow[x & ~1], uvRow[(x & ~1) + 1]));
        v.mapPortable(q.r, q.g, q.b, dst);
        dst[3] = 255;
    }
}

}  // namespace

bool LutEngine::hasVectorKernel() {
#ifdef HOLLOWKIT_LUT_X86
    return cpuHasSsse3();
#else
    return false;
#endif
}

std::shared_ptr<const LutEngine> LutEngine::prepare(const ColorLUT& lut) {
    const int n = lut.dimension;
    if (n < ColorLUT::kMinDimension || n > ColorLUT::kMaxDimension) return nullptr;
    const size_t entries = static_cast<size_t>(n) * n * n;
    if (lut.rgba.size() != entries * 4) return nullptr;
    if (!lut.hasUsableDomain()) return nullptr;

    std::shared_ptr<LutEngine> engine(new LutEngine());
    engine->dimension_ = n;
    engine->stepG_ = static_cast<size_t>(n);
    engine->stepB_ = static_cast<size_t>(n) * n;
    engine->table_.resize(entries * 4);
    for (size_t i = 0; i < entries; ++i) {
        const float* in = &lut.rgba[i * 4];
        int16_t* out = &engine->table_[i * 4];
        for (int c = 0; c < 3; ++c) {
            const float value = in[2 - c];  // the look holds R, G, B; the table B, G, R
            if (!std::isfinite(value)) return nullptr;
            const float limited = std::clamp(value, -0.5f, 1.5f);
            out[c] = static_cast<int16_t>(std::lround(limited * kOne));
        }
        out[3] = 0;
    }

    // Level v is the value v / 255, which sits at (value − min) / (max − min)
    // of the axis, held at the ends. The lower point is kept below the last
    // so its upper neighbour exists; a position on the last point then
    // weighs that neighbour fully (as near as Q15 allows). Worked in double
    // from integers so the usual 0...1 range lands exactly on grid points.
    const int steps = n - 1;
    auto fillAxis = [&](Axis& axis, size_t step, double lo, double hi) {
        for (int v = 0; v < 256; ++v) {
            const double position =
                std::clamp((v - 255.0 * lo) * steps / (255.0 * (hi - lo)), 0.0, static_cast<double>(steps));
            const int lower = std::min(static_cast<int>(position), n - 2);
            const auto weight = static_cast<int>(std::lround((position - lower) * kWeightOne));
            axis.offset[v] = static_cast<uint32_t>(static_cast<size_t>(lower) * step);
            axis.weight[v] = static_cast<int16_t>(std::min(weight, kWeightOne - 1));
        }
    };
    fillAxis(engine->red_, 1, lut.domainMin[0], lut.domainMax[0]);
    fillAxis(engine->green_, engine->stepG_, lut.domainMin[1], lut.domainMax[1]);
    fillAxis(engine->blue_, engine->stepB_, lut.domainMin[2], lut.domainMax[2]);

    engine->wideWeights_.resize(3 * 256);
    const Axis* axes[] = {&engine->red_, &engine->green_, &engine->blue_};
    for (int a = 0; a < 3; ++a) {
        for (int v = 0; v < 256; ++v) engine->wideWeights_[a * 256 + v].fill(axes[a]->weight[v]);
    }
    return engine;
}

namespace {

LutView viewOf(const int16_t* table, size_t stepG, size_t stepB, const auto& red,
               const auto& green, const auto& blue, const std::array<int16_t, 8>* wide) {
    return LutView{
        .table = table,
        .stepG = static_cast<ptrdiff_t>(stepG * 4),
        .stepB = static_cast<ptrdiff_t>(stepB * 4),
        .offR = red.offset.data(),
        .offG = green.offset.data(),
        .offB = blue.offset.data(),
        .wR = red.weight.data(),
        .wG = green.weight.data(),
        .wB = blue.weight.data(),
        .wideR = wide[0].data(),
        .wideG = wide[256].data(),
        .wideB = wide[512].data(),
    };
}

bool useVector(LutEngine::Kernel kernel) {
    return kernel == LutEngine::Kernel::best && LutEngine::hasVectorKernel();
}

}  // namespace

void LutEngine::mapBgraRows(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride,
                            int width, int rowBegin, int rowEnd, Kernel kernel) const {
    const LutView view =
        viewOf(table_.data(), stepG_, stepB_, red_, green_, blue_, wideWeights_.data());
    const bool vector = useVector(kernel);
    for (int y = rowBegin; y < rowEnd; ++y) {
        const uint8_t* in = src + static_cast<size_t>(y) * srcStride;
        uint8_t* out = dst + static_cast<size_t>(y) * dstStride;
#ifdef HOLLOWKIT_LUT_X86
        if (vector) {
            bgraRowSsse3(view, in, out, width);
            continue;
        }
#endif
        (void)vector;
        bgraRowPortable(view, in, out, width);
    }
}

void LutEngine::mapNv12Rows(const uint8_t* yPlane, size_t yStride, const uint8_t* uv,
                            size_t uvStride, uint8_t* dst, size_t dstStride, int width,
                            int rowBegin, int rowEnd, Kernel kernel) const {
    const LutView view =
        viewOf(table_.data(), stepG_, stepB_, red_, green_, blue_, wideWeights_.data());
    const bool vector = useVector(kernel);
    for (int y = rowBegin; y < rowEnd; ++y) {
        const uint8_t* yRow = yPlane + static_cast<size_t>(y) * yStride;
        const uint8_t* uvRow = uv + static_cast<size_t>(y / 2) * uvStride;
        uint8_t* out = dst + static_cast<size_t>(y) * dstStride;
#ifdef HOLLOWKIT_LUT_X86
        if (vector) {
            nv12RowSsse3(view, yRow, uvRow, out, width);
            continue;
        }
#endif
        (void)vector;
        nv12RowPortable(view, yRow, uvRow, out, width);
    }
}

bool LutEngine::apply(const VideoFrame& input, WritableVideoFrame& output, RowWorkers* workers,
                      Kernel kernel) const {
    if (input.isNull() || output.isNull() || output.pixelFormat() != PixelFormat::bgra ||
        output.width() != input.width() || output.height() != input.height()) {
        return false;
    }
    const int width = input.width();
    uint8_t* dst = output.planeData(0);
    const size_t dstStride = output.stride(0);

    RowWorkers::Job job;
    switch (input.pixelFormat()) {
        case PixelFormat::bgra:
            job = [&](int begin, int end) {
                mapBgraRows(input.planeData(0), input.stride(0), dst, dstStride, width, begin, end,
                            kernel);
            };
            break;
        case PixelFormat::nv12:
            job = [&](int begin, int end) {
                mapNv12Rows(input.planeData(0), input.stride(0), input.planeData(1),
                            input.stride(1), dst, dstStride, width, begin, end, kernel);
            };
            break;
        case PixelFormat::none:
            return false;
    }
    runRows(workers, input.height(), job);
    return true;
}

}  // namespace hollowkit
