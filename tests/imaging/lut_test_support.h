#pragma once

// Helpers shared by the colour-look tests: readable failure output, small
// frames built pixel by pixel, and a float trilinear reference to hold the
// fixed-point engine against.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <ostream>

#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/media/video_frame.h"

namespace hollowkit {

inline void PrintTo(const ColorLUT::LoadError& error, std::ostream* os) {
    *os << "LoadError(\"" << error.userMessage() << "\")";
}

namespace luttest {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

// A BGRA frame whose pixel (x, y) is `pixel(x, y)`, alpha `alpha(x, y)`.
inline VideoFrame bgraFrame(int width, int height, const std::function<Rgb(int, int)>& pixel,
                            TimePoint pts = TimePoint{},
                            const std::function<uint8_t(int, int)>& alpha = nullptr) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.row(0, y).data();
        for (int x = 0; x < width; ++x) {
            const Rgb c = pixel(x, y);
            row[4 * x] = c.b;
            row[4 * x + 1] = c.g;
            row[4 * x + 2] = c.r;
            row[4 * x + 3] = alpha ? alpha(x, y) : 255;
        }
    }
    return std::move(frame).freeze(pts);
}

struct Ycc {
    uint8_t y = 16, cb = 128, cr = 128;
};

// An NV12 frame: luma from `luma(x, y)`, chroma of each 2×2 block from
// `chroma(x / 2, y / 2)` (only cb and cr are used).
inline VideoFrame nv12Frame(int width, int height, const std::function<uint8_t(int, int)>& luma,
                            const std::function<Ycc(int, int)>& chroma) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(PixelFormat::nv12, width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.row(0, y).data();
        for (int x = 0; x < width; ++x) row[x] = luma(x, y);
    }
    for (int y = 0; y < (height + 1) / 2; ++y) {
        uint8_t* row = frame.row(1, y).data();
        for (int x = 0; x < (width + 1) / 2; ++x) {
            const Ycc c = chroma(x, y);
            row[2 * x] = c.cb;
            row[2 * x + 1] = c.cr;
        }
    }
    return std::move(frame).freeze(TimePoint{});
}

// B, G, R, A of pixel (x, y) of a BGRA frame.
inline std::array<uint8_t, 4> bgraAt(const VideoFrame& frame, int x, int y) {
    const uint8_t* p = frame.row(0, y).data() + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

// Trilinear interpolation in double precision straight from the table's
// floats over its domain, clamped and rounded to bytes: the result the
// engine must match.
inline Rgb referenceMap(const ColorLUT& lut, Rgb in) {
    const int n = lut.dimension;
    const uint8_t levels[3] = {in.r, in.g, in.b};
    double pos[3];
    for (size_t a = 0; a < 3; ++a) {
        const double span = double{lut.domainMax[a]} - lut.domainMin[a];
        pos[a] = std::clamp((levels[a] / 255.0 - lut.domainMin[a]) / span, 0.0, 1.0) * (n - 1);
    }
    int lo[3], hi[3];
    double f[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(static_cast<int>(pos[a]), n - 1);
        hi[a] = std::min(lo[a] + 1, n - 1);
        f[a] = pos[a] - lo[a];
    }
    double out[3] = {0, 0, 0};
    for (int corner = 0; corner < 8; ++corner) {
        const int r = corner & 1 ? hi[0] : lo[0];
        const int g = corner & 2 ? hi[1] : lo[1];
        const int b = corner & 4 ? hi[2] : lo[2];
        const double w = (corner & 1 ? f[0] : 1 - f[0]) * (corner & 2 ? f[1] : 1 - f[1]) *
                         (corner & 4 ? f[2] : 1 - f[2]);
        const float* e = &lut.rgba[4 * (static_cast<size_t>(r) + static_cast<size_t>(g) * n +
                                        static_cast<size_t>(b) * n * n)];
        for (int c = 0; c < 3; ++c) out[c] += w * e[c];
    }
    auto byte = [](double v) {
        return static_cast<uint8_t>(std::clamp(std::lround(v * 255.0), 0L, 255L));
    };
    return {byte(out[0]), byte(out[1]), byte(out[2])};
}

// BT.709 limited range to 8-bit R'G'B' in double precision, straight from
// the standard's luma weights.
inline Rgb referenceBt709(uint8_t y, uint8_t cb, uint8_t cr) {
    const double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
    const double yn = (y - 16) / 219.0;
    const double pb = (cb - 128) / 224.0;
    const double pr = (cr - 128) / 224.0;
    const double r = yn + 2 * (1 - kr) * pr;
    const double b = yn + 2 * (1 - kb) * pb;
    const double g = (yn - kr * r - kb * b) / kg;
    auto byte = [](double v) {
        return static_cast<uint8_t>(std::clamp(std::lround(v * 255.0), 0L, 255L));
    };
    return {byte(r), byte(g), byte(b)};
}

// A table of `n` points per axis whose entry at (r, g, b) is `f(r', g', b')`
// with the coordinates scaled to 0...1.
inline ColorLUT tableOf(int n, const std::function<std::array<float, 3>(float, float, float)>& f,
                        std::string id = "test.table") {
    ColorLUT lut;
    lut.id = std::move(id);
    lut.name = lut.id;
    lut.dimension = n;
    std::vector<float> rgba;
    rgba.reserve(static_cast<size_t>(n) * n * n * 4);
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const float s = 1.0f / static_cast<float>(n - 1);
                const auto v = f(r * s, g * s, b * s);
                rgba.insert(rgba.end(), {v[0], v[1], v[2], 1.0f});
            }
        }
    }
    lut.rgba = std::move(rgba);
    return lut;
}

inline ColorLUT identityTable(int n) {
    return tableOf(n, [](float r, float g, float b) { return std::array<float, 3>{r, g, b}; },
                   "test.identity");
}

}  // namespace luttest
}  // namespace hollowkit
