#pragma once

// Nv12DisplayScaler: a camera picture (NV12) scaled to the size it is shown
// at and turned into BGRA in one pass over the output, row pair by row pair,
// so no full-size intermediate picture is written. Bilinear between pixel
// centres; shrinking past half first averages 2^k×2^k blocks so no source
// pixel is skipped (no shimmer). Colours are BT.709, limited range, in the
// same fixed point as the library's conversion.
//
// The scaling loops are plain C++ the compiler turns into vector code (the
// file is built at the optimisation they need in any optimised build),
// the colour conversion AVX2 intrinsics; the AVX2 copy is chosen at run time
// where the processor has it, a plain one with the same results elsewhere
// (and the only one off x86). The scaler keeps
// its position tables and row scratch between calls and only remakes them
// when a size changes, so a steady stream allocates nothing. One thread at a
// time per scaler.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hollowkit {

struct Nv12Planes {
    const uint8_t* luma = nullptr;
    size_t lumaStride = 0;
    const uint8_t* chroma = nullptr;  // Cb Cr pairs at half size, odd sizes rounded up
    size_t chromaStride = 0;
    int width = 0;
    int height = 0;
};

struct BgraTarget {
    uint8_t* pixels = nullptr;
    size_t stride = 0;
    int width = 0;
    int height = 0;
};

class Nv12DisplayScaler {
public:
    // `vectorUnits` false: the plain copy even where AVX2 is there (for
    // comparing the two).
    explicit Nv12DisplayScaler(bool vectorUnits = true) : vectorUnits_(vectorUnits) {}
    Nv12DisplayScaler(const Nv12DisplayScaler&) = delete;
    Nv12DisplayScaler& operator=(const Nv12DisplayScaler&) = delete;

    // Draws `source` into all of `target` (opaque BGRA). False, with the
    // target untouched, for an empty size or missing planes.
    bool draw(const Nv12Planes& source, const BgraTarget& target);

    // Whether the vector copy for AVX2 runs on this processor (never off x86).
    static bool usesAvx2();

    // Where one output pixel samples along one axis: between effective
    // pixels `first` and `first + 1` (blocks of 2^shift source pixels),
    // `weight` / 256 of the way. Exposed for the tests' reference.
    struct Axis {
        int shift = 0;      // log2 of the averaged block
        int effective = 0;  // effective pixels (blocks)
        std::vector<int32_t> first;
        std::vector<int32_t> weight;
    };
    static void planAxis(Axis& axis, int source, int output);

private:
    void plan(const Nv12Planes& source, const BgraTarget& target);

    const bool vectorUnits_;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int outputWidth_ = 0;
    int outputHeight_ = 0;
    Axis lumaX_, lumaY_, chromaX_, chromaY_;
    // Per output pixel: the luma weights (256 − w, w) packed as a pair.
    std::vector<uint32_t> lumaWeights_;
    // Per four output pixels: the byte shuffle that takes their luma pairs
    // out of one load.
    std::vector<uint8_t> lumaShuffles_;
    // Row scratch: sums of blocks of rows, vertically blended source rows
    // (samples times 128), block-averaged ones, and the chroma of a row pair.
    std::vector<uint32_t> sums_;
    std::vector<int16_t> lumaRow_;
    std::vector<int16_t> lumaBlocks_;
    std::vector<int16_t> chromaRow_;
    std::vector<int16_t> chromaBlocks_;
    std::vector<int16_t> cb_;
    std::vector<int16_t> cr_;
};

}  // namespace hollowkit
