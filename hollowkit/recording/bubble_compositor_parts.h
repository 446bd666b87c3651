#pragma once

// What the bubble compositor's three files share: the fixed-point helpers,
// and the nested types that describe a camera picture and a circle bubble's
// cached parts. The geometry, scaling and the per-frame drawing are in
// bubble_compositor.cpp, the bubble's layers in bubble_layers.cpp, the
// blending onto the canvas in bubble_blend.cpp. Private to the recording
// library.

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "hollowkit/recording/bubble_compositor.h"

namespace hollowkit {

namespace bubble_parts {

// Bilinear weights in 1/256ths of a pixel: fine enough for a gliding zoom,
// small enough that a weighted sum of two rows stays in 16 bits.
inline constexpr int kWeightOne = 256;

// A double turned into an int inside [low, high]; NaN gives `low`. Clamped
// before the conversion, which is undefined for values out of range.
inline int clampToInt(double value, int low, int high) {
    if (!(value >= low)) return low;
    if (value >= high) return high;
    return static_cast<int>(value);
}

inline int roundToInt(double value, int low, int high) {
    return clampToInt(std::round(value), low, high);
}

// x / 255 for x in 0...255 × 255, rounded.
inline unsigned div255(unsigned x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

}  // namespace bubble_parts

// The parts of a circle bubble that depend only on the canvas size: the
// layer holding the ring over the shadow, and the face's disc coverage.
struct BubbleCompositor::CircleCache {
    int canvasWidth = 0;
    int canvasHeight = 0;
    int side = 0;      // the face square's side
    int faceX = 0;     // the face square inside the layer
    int faceY = 0;
    BubbleLayer layer;              // ring over shadow; the face square is redrawn per frame
    std::vector<uint8_t> base;      // ring over shadow inside the face square, premultiplied BGRA
    std::vector<uint16_t> coverage;  // the face's disc, 0...256, inside the face square
};

// A camera picture as planes, whatever it came as.
struct BubbleCompositor::CameraSource {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    std::array<const uint8_t*, 3> planes{};
    std::array<int, 3> strides{};
    int width = 0;
    int height = 0;
    TimePoint pts{};
};

}  // namespace hollowkit
