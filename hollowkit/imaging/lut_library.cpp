#include "hollowkit/imaging/lut_library.h"

#include <algorithm>
#include <array>

namespace hollowkit::LUTLibrary {

namespace {

constexpr int kDimension = 33;

struct Rgb {
    float r, g, b;
};

// Every channel is clamped to 0...1: a value at or below 0 gives 0, above 1
// gives 1 (so NaN, which no formula produces, would give 0).
float clampUnit(float v) { return v > 1.0f ? 1.0f : (v > 0.0f ? v : 0.0f); }

// The formulas are evaluated in 32-bit floats, products and sums left to
// right exactly as written, so the tables match the published entries bit
// for bit.
float luminance(float r, float g, float b) { return (r * 0.2126f + g * 0.7152f) + b * 0.0722f; }

Rgb warm(float r, float g, float b) { return {r * 1.06f + 0.02f, g * 1.01f, b * 0.9f}; }

Rgb cool(float r, float g, float b) { return {r * 0.92f, g, b * 1.08f + 0.02f}; }

Rgb tealOrange(float r, float g, float b) {
    const float l = luminance(r, g, b);
    return {(r + l * 0.08f) + (1.0f - l) * -0.04f, (1.0f - l) * 0.01f + g,
            (b - l * 0.08f) + (1.0f - l) * 0.07f};
}

Rgb mono(float r, float g, float b) {
    const float v = ((luminance(r, g, b) - 0.5f) * 1.12f) + 0.5f;
    return {v, v, v};
}

Rgb film(float r, float g, float b) {
    return {r * 1.02f * 0.88f + 0.06f, g * 0.88f + 0.06f, b * 0.96f * 0.88f + 0.06f};
}

Rgb vivid(float r, float g, float b) {
    const float l = luminance(r, g, b);
    return {l + (r - l) * 1.25f, l + (g - l) * 1.25f, l + (b - l) * 1.25f};
}

ColorLUT makeLook(const char* key, const char* name, Rgb (*formula)(float, float, float)) {
    ColorLUT lut;
    lut.id = std::string("builtin.") + key;
    lut.name = name;
    lut.dimension = kDimension;
    std::vector<float> rgba;
    rgba.reserve(size_t{kDimension} * kDimension * kDimension * 4);
    for (int b = 0; b < kDimension; ++b) {
        for (int g = 0; g < kDimension; ++g) {
            for (int r = 0; r < kDimension; ++r) {
                const Rgb out = formula(static_cast<float>(r) * 0.03125f,
                                        static_cast<float>(g) * 0.03125f,
                                        static_cast<float>(b) * 0.03125f);
                rgba.insert(rgba.end(), {clampUnit(out.r), clampUnit(out.g), clampUnit(out.b), 1.0f});
            }
        }
    }
    lut.rgba = std::move(rgba);
    return lut;
}

}  // namespace

const std::vector<ColorLUT>& builtIn() {
    static const std::vector<ColorLUT> looks{
        makeLook("warm", "Warm", warm),
        makeLook("cool", "Cool", cool),
        makeLook("teal-orange", "Teal & Orange", tealOrange),
        makeLook("mono", "Mono", mono),
        makeLook("film", "Faded Film", film),
        makeLook("vivid", "Vivid", vivid),
    };
    return looks;
}

const ColorLUT* builtInLook(std::string_view id) {
    const auto& looks = builtIn();
    const auto it = std::find_if(looks.begin(), looks.end(),
                                 [&](const ColorLUT& lut) { return lut.id == id; });
    return it == looks.end() ? nullptr : &*it;
}

}  // namespace hollowkit::LUTLibrary
