#pragma once

// BT.709 with limited ("video") range: the colour coding of the camera's HD
// video and of the movies written from the screen. The weights and ranges
// stand here once; every conversion derives its own fixed-point numbers
// from them at compile time (fixedPoint), so no coefficient is typed twice.

#include <cstdint>

namespace hollowkit::bt709 {

// Luma weights of R', G' and B'.
inline constexpr double kRed = 0.2126;
inline constexpr double kBlue = 0.0722;
inline constexpr double kGreen = 1.0 - kRed - kBlue;

// Code values: luma black at 16 and 219 steps to white; chroma centred on
// 128 with 224 steps from end to end.
inline constexpr int kLumaBlack = 16;
inline constexpr int kChromaZero = 128;
inline constexpr double kLumaSteps = 219.0;
inline constexpr double kChromaSteps = 224.0;

// Decoding, R'G'B' in 0…255 per code value of Y', Cb and Cr (each less its
// black or zero).
inline constexpr double kLumaGain = 255.0 / kLumaSteps;
inline constexpr double kCrToR = 2.0 * (1.0 - kRed) * 255.0 / kChromaSteps;
inline constexpr double kCbToG = -2.0 * (1.0 - kBlue) * kBlue / kGreen * 255.0 / kChromaSteps;
inline constexpr double kCrToG = -2.0 * (1.0 - kRed) * kRed / kGreen * 255.0 / kChromaSteps;
inline constexpr double kCbToB = 2.0 * (1.0 - kBlue) * 255.0 / kChromaSteps;

// Encoding, code values per R'G'B' step: Y' = black + Σ weight · channel,
// Cb and Cr = zero + Σ weight · channel (each chroma row sums to zero).
inline constexpr double kLumaScale = kLumaSteps / 255.0;
inline constexpr double kChromaScale = kChromaSteps / 255.0;
inline constexpr double kRToCb = -kRed / (2.0 * (1.0 - kBlue)) * kChromaScale;
inline constexpr double kGToCb = -kGreen / (2.0 * (1.0 - kBlue)) * kChromaScale;
inline constexpr double kBToCb = 0.5 * kChromaScale;
inline constexpr double kRToCr = 0.5 * kChromaScale;
inline constexpr double kGToCr = -kGreen / (2.0 * (1.0 - kRed)) * kChromaScale;
inline constexpr double kBToCr = -kBlue / (2.0 * (1.0 - kRed)) * kChromaScale;

// `value` in fixed point with `fractionBits` bits below the point, rounded
// half away from zero (as std::lround, which is not constexpr).
constexpr int32_t fixedPoint(double value, int fractionBits) {
    const double scaled = value * static_cast<double>(int64_t{1} << fractionBits);
    return scaled >= 0 ? static_cast<int32_t>(scaled + 0.5) : -static_cast<int32_t>(-scaled + 0.5);
}

}  // namespace hollowkit::bt709
