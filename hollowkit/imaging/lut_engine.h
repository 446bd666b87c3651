#pragma once

// LutEngine: a colour look prepared for pixels. prepare() turns a ColorLUT
// into a 16-bit fixed-point table plus per-axis index and weight tables for
// the 256 levels of each channel, once per selected look; apply() then maps
// each pixel by trilinear interpolation in the table's own (sRGB-encoded)
// values, NV12 or BGRA in, BGRA out. Immutable once prepared: any number of
// threads may apply one engine at the same time.
//
// Accuracy: within ±1 per 8-bit channel of a float trilinear reference.
// Table values are clamped to -0.5...1.5 when prepared (beyond that no
// 8-bit output differs except for looks that swing wider between neighbouring
// points); outputs are clamped to 0...255.
//
// NV12 is read as BT.709 with limited ("video") range: the camera's H.264/HEVC
// streams and UVC frames are HD video and are coded that way. Each 2×2 block
// of pixels shares its chroma sample as stored (no chroma filtering). The
// converted R'G'B' is rounded to 8 bits before the look. BGRA alpha is kept;
// NV12 gives opaque pixels.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

class RowWorkers;

class LutEngine {
public:
    // Which pixel loop runs: `best` picks the vector loop when the processor
    // has it; `portable` is plain C++ with bit-identical results.
    enum class Kernel : uint8_t {
        best = 0,
        portable,
    };

    // Null when the table cannot be used: its dimension is outside
    // ColorLUT::kMinDimension...kMaxDimension, it has the wrong number of
    // floats, a value is not finite, or its domain is not usable. The
    // table's domain is folded into the per-level axis tables, so another
    // input range costs nothing per pixel.
    static std::shared_ptr<const LutEngine> prepare(const ColorLUT& lut);

    int dimension() const { return dimension_; }

    // Maps `input` (NV12 or BGRA) into `output` (BGRA, same size). Rows are
    // shared among `workers` when given. False, with `output` untouched,
    // when the frames do not fit together.
    bool apply(const VideoFrame& input, WritableVideoFrame& output,
               RowWorkers* workers = nullptr, Kernel kernel = Kernel::best) const;

    // Rows [rowBegin, rowEnd) of a packed B G R A picture.
    void mapBgraRows(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride,
                     int width, int rowBegin, int rowEnd, Kernel kernel = Kernel::best) const;

    // Rows [rowBegin, rowEnd) of an NV12 picture (`uv` holds the chroma plane).
    void mapNv12Rows(const uint8_t* y, size_t yStride, const uint8_t* uv, size_t uvStride,
                     uint8_t* dst, size_t dstStride, int width, int rowBegin, int rowEnd,
                     Kernel kernel = Kernel::best) const;

    // True when `best` runs a vector loop on this processor.
    static bool hasVectorKernel();

    LutEngine(const LutEngine&) = delete;
    LutEngine& operator=(const LutEngine&) = delete;

    // Fixed-point scale of the table: 1.0 is 255 · 64, so a value shifted
    // right by 6 (rounded) is the 8-bit output.
    static constexpr int kOne = 255 * 64;
    static constexpr int kWeightOne = 1 << 15;

private:
    LutEngine() = default;

    // Per level 0...255 of one input channel.
    struct Axis {
        std::array<uint32_t, 256> offset{};  // lower grid point, in table entries
        std::array<int16_t, 256> weight{};   // toward the next point, Q15
    };

    int dimension_ = 0;
    // Entries of B, G, R, 0 (int16, kOne = 1.0), red index fastest. An
    // entry and its red neighbour are read together; the lower grid point is
    // never the last on its axis, so the neighbour always exists.
    std::vector<int16_t> table_;
    size_t stepG_ = 0;  // entries from one green point to the next
    size_t stepB_ = 0;  // entries from one blue point to the next
    Axis red_, green_, blue_;
    // Q15 weights repeated in all eight 16-bit lanes, so a vector loop loads
    // them instead of broadcasting.
    std::vector<std::array<int16_t, 8>> wideWeights_;  // [axis * 256 + level]
};

}  // namespace hollowkit
