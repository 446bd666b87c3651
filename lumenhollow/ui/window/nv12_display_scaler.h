#pragma once

// Nv12DisplayScaler: a camera picture (NV12) scaled to the size it is shown
// at and turned into BGRA in one pass over the output, row pair by row pair,
// so no full-size intermediate picture is written. Bilinear between pixel
// centres; shrinking past half first averages 2^k×2^k blocks so no source
// pixel is skipped (no shimmer). Colours are BT.709, limited range, in the
// same fixed point as the library's conversion.
//
// The loops are plain C++ the compiler turns into vector code; a copy built
// for AVX2 is chosen at run time where the processor has it. The scaler keeps
// its position tables and row scratch between calls and only remakes them
// when a size changes, so a steady stream allocates nothing. One thread at a
// time per scaler.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumenhollow {

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
    Nv12DisplayScaler() = default;
    Nv12DisplayScaler(const Nv12DisplayScaler&) = delete;
    Nv12DisplayScaler& operator=(const Nv12DisplayScaler&) = delete;

    // Draws `source` into all of `target` (opaque BGRA). False, with the
    // target untouched, for an empty size or missing planes.
    bool draw(const Nv12Planes& source, const BgraTarget& target);

    // Whether the vector copy for AVX2 runs on this processor.
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

    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int outputWidth_ = 0;
    int outputHeight_ = 0;
    Axis lumaX_, lumaY_, chromaX_, chromaY_;
    // Per output pixel: the chroma plane's interleaved index and weight.
    std::vector<int32_t> chromaIndex_;
    std::vector<int32_t> chromaWeight_;
    // Row scratch: vertically blended source rows, then block-averaged ones.
    std::vector<uint32_t> lumaRow_;
    std::vector<uint32_t> lumaBlocks_;
    std::vector<uint32_t> chromaRow_;
    std::vector<uint32_t> chromaBlocks_;
    std::vector<int32_t> cb_;
    std::vector<int32_t> cr_;
};

}  // namespace lumenhollow
