#pragma once

// Internal to the imaging library: NV12 to 8-bit R'G'B', read as BT.709
// with limited ("video") range, the way the camera codes its HD video. One
// table entry per code value in 20-bit fixed point, so a pixel costs four
// lookups, three sums and three shifts; each 2×2 block shares its chroma.
// Both the colour look and the plain BGRA conversion read pixels through
// here, so a picture looks the same with and without a look. The tables are
// made once, on first use; any thread.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "hollowkit/imaging/bt709.h"

namespace hollowkit::nv12 {

struct Tables {
    static constexpr int kShift = 20;
    // The luma table carries the rounding half, so each channel is one sum
    // and a shift.
    std::array<int32_t, 256> luma{};
    std::array<int32_t, 256> crToR{};
    std::array<int32_t, 256> cbToG{};
    std::array<int32_t, 256> crToG{};
    std::array<int32_t, 256> cbToB{};

    Tables() {
        const double one = double{1 << kShift};
        for (int v = 0; v < 256; ++v) {
            const auto fixed = [&](double x) { return static_cast<int32_t>(std::lround(x * one)); };
            luma[v] = fixed((v - bt709::kLumaBlack) * bt709::kLumaGain) + (1 << (kShift - 1));
            const int c = v - bt709::kChromaZero;
            crToR[v] = fixed(c * bt709::kCrToR);
            cbToG[v] = fixed(c * bt709::kCbToG);
            crToG[v] = fixed(c * bt709::kCrToG);
            cbToB[v] = fixed(c * bt709::kCbToB);
        }
    }

    static const Tables& get() {
        static const Tables tables;
        return tables;
    }
};

// The chroma sample's share of each channel, shared by the pixels of its block.
struct Chroma {
    int32_t r = 0;
    int32_t g = 0;
    int32_t b = 0;
};

inline Chroma chroma(const Tables& t, uint8_t cb, uint8_t cr) {
    return {t.crToR[cr], t.cbToG[cb] + t.crToG[cr], t.cbToB[cb]};
}

struct Rgb8 {
    uint8_t r, g, b;
};

inline uint8_t clampShift(int32_t v) {
    return static_cast<uint8_t>(std::clamp(v >> Tables::kShift, 0, 255));
}

inline Rgb8 pixel(const Tables& t, uint8_t y, const Chroma& c) {
    const int32_t l = t.luma[y];
    return {clampShift(l + c.r), clampShift(l + c.g), clampShift(l + c.b)};
}

}  // namespace hollowkit::nv12
