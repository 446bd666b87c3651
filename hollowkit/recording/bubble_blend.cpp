// BubbleCompositor: a bubble layer (premultiplied BGRA) blended onto the
// canvas, a BGRA picture or the planes of a YUV 4:2:0 one.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "hollowkit/recording/bubble_compositor_parts.h"

namespace hollowkit {

using bubble_parts::div255;

namespace {

// Fixed-point BT.709 limited-range coefficients for premultiplied pixels, in
// 1/16384ths.
constexpr int kColourBits = 14;
constexpr int32_t kColourOne = 1 << kColourBits;
struct YuvCoefficients {
    int32_t yr, yg, yb, ur, ug, ub, vr, vg, vb;
    std::array<int32_t, 256> alpha{};  // a / 255 in 1/16384ths

    YuvCoefficients() {
        constexpr double kr = 0.2126;
        constexpr double kb = 0.0722;
        constexpr double kg = 1 - kr - kb;
        constexpr double lumaScale = 219.0 / 255.0;
        constexpr double chromaScale = 224.0 / 255.0;
        const auto fixed = [](double v) { return static_cast<int32_t>(std::lround(v * kColourOne)); };
        yr = fixed(kr * lumaScale);
        yg = fixed(kg * lumaScale);
        yb = fixed(kb * lumaScale);
        ur = fixed(-kr / (2 * (1 - kb)) * chromaScale);
        ug = fixed(-kg / (2 * (1 - kb)) * chromaScale);
        ub = fixed(0.5 * chromaScale);
        vr = fixed(0.5 * chromaScale);
        vg = fixed(-kg / (2 * (1 - kr)) * chromaScale);
        vb = fixed(-kb / (2 * (1 - kr)) * chromaScale);
        for (int a = 0; a < 256; ++a) alpha[static_cast<size_t>(a)] = fixed(a / 255.0);
    }
};

const YuvCoefficients& yuvCoefficients() {
    static const YuvCoefficients coefficients;
    return coefficients;
}

inline uint8_t fixedToByte(int32_t value) {
    value = (value + kColourOne / 2) >> kColourBits;
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

}  // namespace

void BubbleCompositor::blendLayer(const BubbleLayer& layer, WritableVideoFrame& canvas) {
    if (canvas.isNull() || canvas.pixelFormat() != PixelFormat::bgra) return;
    const int x0 = std::max(0, layer.x);
    const int y0 = std::max(0, layer.y);
    const int x1 = std::min(canvas.width(), layer.x + layer.width);
    const int y1 = std::min(canvas.height(), layer.y + layer.height);
    for (int y = y0; y < y1; ++y) {
        const uint8_t* in = layer.row(y - layer.y) + 4 * (x0 - layer.x);
        uint8_t* out = canvas.planeData(0) + static_cast<size_t>(y) * canvas.stride(0) + 4 * x0;
        for (int x = 0; x < x1 - x0; ++x) {
            const unsigned rest = 255U - in[4 * x + 3];
            for (int c = 0; c < 4; ++c) {
                out[4 * x + c] = static_cast<uint8_t>(std::min(255U, in[4 * x + c] + div255(out[4 * x + c] * rest)));
            }
        }
    }
}

void BubbleCompositor::blendLayer(const BubbleLayer& layer, Yuv420Canvas& canvas) {
    const YuvCoefficients& k = yuvCoefficients();
    const int x0 = std::max(0, layer.x);
    const int y0 = std::max(0, layer.y);
    const int x1 = std::min(canvas.width(), layer.x + layer.width);
    const int y1 = std::min(canvas.height(), layer.y + layer.height);
    if (x0 >= x1 || y0 >= y1) return;
    MutableImagePlane& luma = canvas.planes[0];
    for (int y = y0; y < y1; ++y) {
        const uint8_t* in = layer.row(y - layer.y) + 4 * (x0 - layer.x);
        uint8_t* out = luma.data + static_cast<ptrdiff_t>(y) * luma.stride + x0;
        for (int x = 0; x < x1 - x0; ++x, in += 4) {
            const int32_t a = k.alpha[in[3]];
            if (a == 0) continue;
            const int32_t premultiplied = 16 * a + in[2] * k.yr + in[1] * k.yg + in[0] * k.yb;
            out[x] = fixedToByte(premultiplied + out[x] * (kColourOne - a));
        }
    }
    // Chroma: each sample from the average of the 2x2 pixels it covers (a
    // pixel outside the layer counts as transparent).
    const int cx0 = x0 / 2;
    const int cy0 = y0 / 2;
    const int cx1 = (x1 + 1) / 2;
    const int cy1 = (y1 + 1) / 2;
    MutableImagePlane& cb = canvas.planes[1];
    MutableImagePlane& cr = canvas.planes[2];
    for (int cy = cy0; cy < cy1; ++cy) {
        const uint8_t* rows[2] = {nullptr, nullptr};
        for (int dy = 0; dy < 2; ++dy) {
            const int y = 2 * cy + dy;
            if (y >= y0 && y < y1) rows[dy] = layer.row(y - layer.y);
        }
        uint8_t* u = cb.data + static_cast<ptrdiff_t>(cy) * cb.stride;
        uint8_t* v = cr.data + static_cast<ptrdiff_t>(cy) * cr.stride;
        for (int cx = cx0; cx < cx1; ++cx) {
            int32_t sumU = 0;
            int32_t sumV = 0;
            int32_t sumAlpha = 0;
            for (int dx = 0; dx < 2; ++dx) {
                const int x = 2 * cx + dx;
                if (x < x0 || x >= x1) continue;
                for (const uint8_t* row : rows) {
                    if (row == nullptr) continue;
                    const uint8_t* p = row + 4 * (x - layer.x);
                    const int32_t a = k.alpha[p[3]];
                    if (a == 0) continue;
                    sumU += 128 * a + p[2] * k.ur + p[1] * k.ug + p[0] * k.ub;
                    sumV += 128 * a + p[2] * k.vr + p[1] * k.vg + p[0] * k.vb;
                    sumAlpha += a;
                }
            }
            if (sumAlpha == 0) continue;
            const int32_t rest = kColourOne - sumAlpha / 4;
            u[cx] = fixedToByte(sumU / 4 + u[cx] * rest);
            v[cx] = fixedToByte(sumV / 4 + v[cx] * rest);
        }
    }
}

}  // namespace hollowkit
