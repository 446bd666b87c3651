// BubbleCompositor: the bubble's layers, drawn from the camera picture once
// per frame: the circle (the face in a disc, a ring and a soft shadow) and
// the cutout (the person alone, faded at the sides and top, with a shadow).

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "hollowkit/imaging/background_treatment.h"
#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/recording/bubble_compositor_parts.h"
#include "hollowkit/recording/bubble_geometry.h"

namespace hollowkit {

using bubble_parts::clampToInt;
using bubble_parts::div255;
using bubble_parts::kWeightOne;
using bubble_parts::roundToInt;

namespace {

constexpr double kRingAlpha = 0.22;
constexpr double kCircleShadowAlpha = 0.45;
constexpr double kCircleShadowSigmaRings = 5;   // blur, in ring widths
constexpr double kCircleShadowDropRings = 2;    // offset downwards, in ring widths
constexpr double kCircleShadowReachRings = 20;  // how far the shadow may spread

constexpr double kCutoutShadowAlpha = 0.4;
constexpr double kCutoutShadowSigmaShare = 0.014;  // of the bubble's height
constexpr double kCutoutShadowDropShare = 0.008;
constexpr double kCutoutShadowReachShare = 0.06;
constexpr double kCutoutSideFadeShare = 0.06;  // of the picture's height
constexpr double kCutoutTopFadeShare = 0.05;

// A disc of `radius` at (cx, cy) with a one-pixel soft edge, blurred with a
// Gaussian of `sigma`, over a size x size square. A blur this wide is made on
// a picture brought down by up to 8x and brought back up: the disc is smooth
// at that scale, and the cost a small fraction.
std::vector<float> blurredDisc(int size, double cx, double cy, double radius, double sigma) {
    const int factor = std::clamp(static_cast<int>(sigma / 4), 1, 8);
    const int small = (size + factor - 1) / factor;
    cv::Mat disc(small, small, CV_32F);
    for (int j = 0; j < small; ++j) {
        auto* row = disc.ptr<float>(j);
        for (int i = 0; i < small; ++i) {
            const double d = std::hypot((i + 0.5) * factor - cx, (j + 0.5) * factor - cy);
            row[i] = static_cast<float>(std::clamp((radius - d) / factor + 0.5, 0.0, 1.0));
        }
    }
    cv::GaussianBlur(disc, disc, cv::Size(0, 0), sigma / factor, sigma / factor, cv::BORDER_CONSTANT);
    cv::Mat full = disc;
    if (factor > 1) cv::resize(disc, full, cv::Size(small * factor, small * factor), 0, 0, cv::INTER_LINEAR);
    std::vector<float> out(static_cast<size_t>(size) * static_cast<size_t>(size));
    for (int j = 0; j < size; ++j) {
        std::memcpy(out.data() + static_cast<size_t>(j) * static_cast<size_t>(size), full.ptr<float>(j),
                    static_cast<size_t>(size) * sizeof(float));
    }
    return out;
}

// Coverage of a disc of `radius` at a pixel whose centre is `distance` from
// the disc's centre: 1 inside radius - 1, 0 outside radius, linear between.
inline double discCoverage(double radius, double distance) {
    return std::clamp(radius - distance, 0.0, 1.0);
}

inline uint8_t toByte(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value * 255.0), 0L, 255L));
}

}  // namespace

const BubbleLayer* BubbleCompositor::circleLayer(const CameraSource& camera, const PixelRect& content,
                                                 double seconds, int canvasWidth, int canvasHeight) {
    if (!circle_ || circle_->canvasWidth != canvasWidth || circle_->canvasHeight != canvasHeight) {
        const PixelRect square = bubbleSquare(instruction_.style, canvasWidth, canvasHeight);
        const int side = roundToInt(square.width, 0, VideoFrame::kMaxDimension);
        if (side < 2) return nullptr;
        auto cache = std::make_unique<CircleCache>();
        cache->canvasWidth = canvasWidth;
        cache->canvasHeight = canvasHeight;
        cache->side = side;
        const int ring = ringWidth(side);
        const int reach = static_cast<int>(kCircleShadowReachRings) * ring;
        const int size = side + 2 * reach;
        const double r = 0.5 * side;
        const double centre = reach + r;
        cache->faceX = reach;
        cache->faceY = reach;
        BubbleLayer& layer = cache->layer;
        layer.x = roundToInt(square.x, -(1 << 24), 1 << 24) - reach;
        layer.y = roundToInt(square.y, -(1 << 24), 1 << 24) - reach;
        layer.width = size;
        layer.height = size;
        layer.pixels.assign(static_cast<size_t>(size) * static_cast<size_t>(size) * 4, 0);
        const std::vector<float> shadow = blurredDisc(size, centre, centre + kCircleShadowDropRings * ring, r + ring,
                                                      kCircleShadowSigmaRings * ring);
        cache->base.assign(static_cast<size_t>(side) * static_cast<size_t>(side) * 4, 0);
        cache->coverage.assign(static_cast<size_t>(side) * static_cast<size_t>(side), 0);
        for (int j = 0; j < size; ++j) {
            uint8_t* out = layer.row(j);
            for (int i = 0; i < size; ++i) {
                const double d = std::hypot(i + 0.5 - centre, j + 0.5 - centre);
                // White ring at 22 % over black shadow at 45 %.
                const double ringAlpha = kRingAlpha * discCoverage(r + ring, d);
                const double shadowAlpha =
                    kCircleShadowAlpha * shadow[static_cast<size_t>(j) * static_cast<size_t>(size) + i];
                const uint8_t white = toByte(ringAlpha);
                const uint8_t alpha = toByte(ringAlpha + (1 - ringAlpha) * shadowAlpha);
                const std::array<uint8_t, 4> pixel{white, white, white, alpha};
                std::memcpy(out + 4 * i, pixel.data(), 4);
                const int fi = i - reach;
                const int fj = j - reach;
                if (fi >= 0 && fi < side && fj >= 0 && fj < side) {
                    const size_t at = static_cast<size_t>(fj) * static_cast<size_t>(side) + fi;
                    std::memcpy(cache->base.data() + 4 * at, pixel.data(), 4);
                    cache->coverage[at] =
                        static_cast<uint16_t>(std::lround(discCoverage(r, d) * kWeightOne));
                }
            }
        }
        circle_ = std::move(cache);
    }
    CircleCache& cache = *circle_;
    const int side = cache.side;

    const PixelRect crop = circleCrop(content);
    const VideoFrame picture = scaledPicture(camera, crop, side, side, pictures_, scaler_);
    if (picture.isNull()) return nullptr;
    VideoFrame face = picture;
    if (instruction_.style.background != BubbleBackground::keep) {
        // Segmented only when the room is treated; a failed mask leaves the
        // room as recorded.
        if (const std::optional<PersonMask> mask = segmenter_.scaledMask(picture, faceIn(camera, crop, seconds))) {
            WritableVideoFrame treated = acquireSized(treated_, PixelFormat::bgra, side, side, 2);
            if (!treated.isNull() &&
                applyBackground(picture, &*mask, instruction_.style.background, treated, nullptr, blur_.get())) {
                face = std::move(treated).freeze(picture.pts());
            }
        }
    }

    // Face over ring over shadow: the face through its disc, the rest of the
    // square showing what lies beneath.
    for (int j = 0; j < side; ++j) {
        const uint8_t* f = face.planeData(0) + static_cast<size_t>(j) * face.stride(0);
        const uint8_t* b = cache.base.data() + static_cast<size_t>(j) * static_cast<size_t>(side) * 4;
        const uint16_t* c = cache.coverage.data() + static_cast<size_t>(j) * static_cast<size_t>(side);
        uint8_t* out = cache.layer.row(cache.faceY + j) + 4 * cache.faceX;
        for (int i = 0; i < side; ++i) {
            const unsigned d = c[i];
            const unsigned rest = kWeightOne - d;
            for (int ch = 0; ch < 3; ++ch) {
                out[4 * i + ch] = static_cast<uint8_t>((f[4 * i + ch] * d + b[4 * i + ch] * rest + 128) >> 8);
            }
            out[4 * i + 3] = static_cast<uint8_t>((255 * d + b[4 * i + 3] * rest + 128) >> 8);
        }
    }
    return &cache.layer;
}

const BubbleLayer* BubbleCompositor::cutoutLayer(const CameraSource& camera, const PixelRect& content,
                                                 double seconds, int canvasWidth, int canvasHeight) {
    const PixelRect square = bubbleSquare(instruction_.style, canvasWidth, canvasHeight);
    const int height = roundToInt(square.height, 0, VideoFrame::kMaxDimension);
    if (height < 2 || !(content.height >= 1) || !(content.width >= 1)) return nullptr;
    // The picture's height becomes the square's; its width follows.
    const double k = height / content.height;
    const int width = roundToInt(content.width * k, 2, VideoFrame::kMaxDimension);

    const VideoFrame picture = scaledPicture(camera, content, width, height, pictures_, scaler_);
    if (picture.isNull()) return nullptr;
    const std::optional<PersonMask> mask = segmenter_.scaledMask(picture, faceIn(camera, content, seconds));
    if (!mask || mask->width != width || mask->height != height) return nullptr;

    // The mask with its left, right and top edges faded over a share of the
    // picture's height; the bottom stays, the person stands on the edge.
    personMask_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    const double sideFade = kCutoutSideFadeShare * height;
    const double topFade = kCutoutTopFadeShare * height;
    for (int y = 0; y < height; ++y) {
        const double top = std::clamp((y + 0.5) / topFade, 0.0, 1.0);
        const uint8_t* in = mask->row(y);
        uint8_t* out = personMask_.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int x = 0; x < width; ++x) {
            const double left = (x + 0.5) / sideFade;
            const double right = (width - x - 0.5) / sideFade;
            const double fade = std::min({top, left, right, 1.0});
            out[x] = std::min(in[x], static_cast<uint8_t>(std::lround(fade * 255)));
        }
    }

    const int reach = clampToInt(std::ceil(kCutoutShadowReachShare * height), 1, 1 << 16);
    const int drop = roundToInt(kCutoutShadowDropShare * height, 0, reach);
    const double sigma = kCutoutShadowSigmaShare * height;
    // Bottom centre of the picture on the square's bottom centre.
    const int left = roundToInt(square.midX() - width / 2.0, -(1 << 24), 1 << 24);
    const int top = roundToInt(square.maxY() - height, -(1 << 24), 1 << 24);

    BubbleLayer& layer = layer_;
    layer.x = left - reach;
    layer.y = top - reach;
    layer.width = width + 2 * reach;
    layer.height = height + 2 * reach;
    layer.pixels.resize(static_cast<size_t>(layer.width) * static_cast<size_t>(layer.height) * 4);

    // The shadow: black at kCutoutShadowAlpha of the faded mask, dropped and blurred.
    constexpr unsigned kShadowLevel = static_cast<unsigned>(kCutoutShadowAlpha * 255 + 0.5);
    shadow_.assign(static_cast<size_t>(layer.width) * static_cast<size_t>(layer.height), 0);
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = personMask_.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        uint8_t* out = shadow_.data() + static_cast<size_t>(y + reach + drop) * static_cast<size_t>(layer.width) + reach;
        for (int x = 0; x < width; ++x) out[x] = static_cast<uint8_t>(div255(in[x] * kShadowLevel));
    }
    if (sigma > 0.3) {
        cv::Mat shadow(layer.height, layer.width, CV_8UC1, shadow_.data());
        cv::GaussianBlur(shadow, shadow, cv::Size(0, 0), sigma, sigma, cv::BORDER_CONSTANT);
    }

    // The person over the shadow.
    for (int y = 0; y < layer.height; ++y) {
        uint8_t* out = layer.row(y);
        const uint8_t* s = shadow_.data() + static_cast<size_t>(y) * static_cast<size_t>(layer.width);
        const int py = y - reach;
        const bool personRow = py >= 0 && py < height;
        const uint8_t* f = personRow ? picture.planeData(0) + static_cast<size_t>(py) * picture.stride(0) : nullptr;
        const uint8_t* m = personRow ? personMask_.data() + static_cast<size_t>(py) * static_cast<size_t>(width)
                                     : nullptr;
        for (int x = 0; x < layer.width; ++x) {
            const int px = x - reach;
            unsigned a = 0;
            if (personRow && px >= 0 && px < width) a = m[px];
            const unsigned shade = s[x];
            uint8_t* p = out + 4 * x;
            if (a == 0) {
                p[0] = p[1] = p[2] = 0;
                p[3] = static_cast<uint8_t>(shade);
                continue;
            }
            const uint8_t* c = f + 4 * px;
            p[0] = static_cast<uint8_t>(div255(c[0] * a));
            p[1] = static_cast<uint8_t>(div255(c[1] * a));
            p[2] = static_cast<uint8_t>(div255(c[2] * a));
            p[3] = static_cast<uint8_t>(a + div255((255 - a) * shade));
        }
    }
    return &layer;
}

}  // namespace hollowkit
