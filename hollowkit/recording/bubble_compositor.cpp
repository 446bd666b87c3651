#include "hollowkit/recording/bubble_compositor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "hollowkit/imaging/background_treatment.h"
#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/imaging/grabcut_segmentation_backend.h"
#include "hollowkit/recording/bubble_geometry.h"

namespace hollowkit {

namespace {

// Bilinear weights in 1/256ths of a pixel: fine enough for a gliding zoom,
// small enough that a weighted sum of two rows stays in 16 bits.
constexpr int kWeightOne = 256;

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

// A double turned into an int inside [low, high]; NaN gives `low`. Clamped
// before the conversion, which is undefined for values out of range.
int clampToInt(double value, int low, int high) {
    if (!(value >= low)) return low;
    if (value >= high) return high;
    return static_cast<int>(value);
}

int roundToInt(double value, int low, int high) {
    return clampToInt(std::round(value), low, high);
}

// x / 255 for x in 0...255 × 255, rounded.
inline unsigned div255(unsigned x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// Where each destination pixel samples the source along one axis: between
// `first` and `second` with `weight` / 256 of the second. Positions beyond
// the source repeat its edge pixels.
struct Taps {
    std::vector<int> first;
    std::vector<int> second;
    std::vector<uint16_t> weight;
};

Taps makeTaps(int count, double origin, double step, int sourceSize, int channels) {
    Taps taps;
    taps.first.resize(static_cast<size_t>(count));
    taps.second.resize(static_cast<size_t>(count));
    taps.weight.resize(static_cast<size_t>(count));
    const double last = sourceSize - 1;
    for (int i = 0; i < count; ++i) {
        double s = origin + (i + 0.5) * step - 0.5;
        if (!std::isfinite(s)) s = 0;
        int a = 0;
        int b = 0;
        int w = 0;
        if (s >= last) {
            a = b = sourceSize - 1;
        } else if (s > 0) {
            const double whole = std::floor(s);
            a = static_cast<int>(whole);
            b = a + 1;
            w = std::clamp(static_cast<int>(std::lround((s - whole) * kWeightOne)), 0, kWeightOne);
        }
        const auto index = static_cast<size_t>(i);
        taps.first[index] = a * channels;
        taps.second[index] = b * channels;
        taps.weight[index] = static_cast<uint16_t>(w);
    }
    return taps;
}

// Rows [rowBegin, rowEnd) of `destination`, each a bilinear sample of the
// source along the taps. Each source row is interpolated horizontally once
// and kept while the next destination row still needs it.
template <int Channels>
void scaleRows(const ImagePlane& source, const Taps& xs, const Taps& ys, const MutableImagePlane& destination,
               int rowBegin, int rowEnd) {
    const int samples = destination.width * Channels;
    std::vector<uint16_t> upper(static_cast<size_t>(samples));
    std::vector<uint16_t> lower(static_cast<size_t>(samples));
    int upperRow = -1;
    int lowerRow = -1;
    const auto horizontal = [&](int sourceRow, uint16_t* out) {
        const uint8_t* line = source.data + static_cast<ptrdiff_t>(sourceRow) * source.stride;
        for (int x = 0; x < destination.width; ++x) {
            const auto index = static_cast<size_t>(x);
            const uint8_t* a = line + xs.first[index];
            const uint8_t* b = line + xs.second[index];
            const unsigned w = xs.weight[index];
            for (int c = 0; c < Channels; ++c) {
                out[x * Channels + c] = static_cast<uint16_t>(a[c] * (kWeightOne - w) + b[c] * w);
            }
        }
    };
    for (int y = rowBegin; y < rowEnd; ++y) {
        const auto index = static_cast<size_t>(y);
        const int top = ys.first[index];
        const int bottom = ys.second[index];
        if (upperRow != top) {
            if (lowerRow == top) {
                std::swap(upper, lower);
                std::swap(upperRow, lowerRow);
            } else {
                horizontal(top, upper.data());
                upperRow = top;
            }
        }
        if (lowerRow != bottom) {
            horizontal(bottom, lower.data());
            lowerRow = bottom;
        }
        const unsigned w = ys.weight[index];
        const unsigned rest = kWeightOne - w;
        uint8_t* out = destination.data + static_cast<ptrdiff_t>(y) * destination.stride;
        const uint16_t* u = upper.data();
        const uint16_t* l = lower.data();
        for (int i = 0; i < samples; ++i) {
            out[i] = static_cast<uint8_t>((u[i] * rest + l[i] * w + 32768U) >> 16);
        }
    }
}

// `destination` covered by the part `area` of `source` (in source pixels),
// bilinear, edge pixels repeated outside the source.
template <int Channels>
void scaledBlit(const ImagePlane& source, const PixelRect& area, const MutableImagePlane& destination,
                RowWorkers& workers) {
    if (source.width <= 0 || source.height <= 0 || destination.width <= 0 || destination.height <= 0) return;
    if (area == PixelRect{0, 0, static_cast<double>(source.width), static_cast<double>(source.height)} &&
        source.width == destination.width && source.height == destination.height) {
        const auto bytes = static_cast<size_t>(destination.width) * Channels;
        workers.run(destination.height, [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
                std::memcpy(destination.data + static_cast<ptrdiff_t>(y) * destination.stride,
                            source.data + static_cast<ptrdiff_t>(y) * source.stride, bytes);
            }
        });
        return;
    }
    const Taps xs = makeTaps(destination.width, area.x, area.width / destination.width, source.width, Channels);
    const Taps ys = makeTaps(destination.height, area.y, area.height / destination.height, source.height, 1);
    // Taps of rows count whole rows, not bytes.
    workers.run(destination.height, [&](int begin, int end) {
        scaleRows<Channels>(source, xs, ys, destination, begin, end);
    });
}

ImagePlane planeOf(const VideoFrame& frame) {
    return {frame.planeData(0), static_cast<ptrdiff_t>(frame.stride(0)), frame.width(), frame.height()};
}

MutableImagePlane planeOf(WritableVideoFrame& frame) {
    return {frame.planeData(0), static_cast<ptrdiff_t>(frame.stride(0)), frame.width(), frame.height()};
}

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

BubbleCompositor::BubbleCompositor(BubbleInstruction instruction, std::unique_ptr<SegmentationBackend> backend,
                                   int threads)
    : instruction_(std::move(instruction)),
      segmenter_(backend ? std::move(backend) : std::make_unique<GrabCutSegmentationBackend>()),
      workers_(std::max(1, threads)) {}

BubbleCompositor::~BubbleCompositor() = default;

const FrameSizeChange* BubbleCompositor::sizeInForce(std::span<const FrameSizeChange> changes, double seconds) {
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        if (it->time <= seconds) return &*it;
    }
    return nullptr;
}

PixelRect BubbleCompositor::cameraContentRect(const PixelRect& extent, const FrameSizeChange* size) {
    if (size == nullptr || size->width <= 0 || size->height <= 0) return extent;
    const double k = std::min(extent.width / size->widthF(), extent.height / size->heightF());
    const double fittedWidth = size->widthF() * k;
    const double fittedHeight = size->heightF() * k;
    if (!(std::abs(fittedWidth - extent.width) > 2 || std::abs(fittedHeight - extent.height) > 2)) return extent;
    const double insetX = std::ceil(0.01 * fittedWidth);
    const double insetY = std::ceil(0.01 * fittedHeight);
    return {extent.midX() - fittedWidth / 2 + insetX, extent.midY() - fittedHeight / 2 + insetY,
            fittedWidth - 2 * insetX, fittedHeight - 2 * insetY};
}

PixelRect BubbleCompositor::circleCrop(const PixelRect& content) {
    const double side = std::min(content.width, content.height);
    const double x = content.midX() - side / 2;
    const double y = content.height <= content.width ? content.y : content.y + 0.2 * (content.height - side);
    return {x, y, side, side};
}

PixelRect BubbleCompositor::bubbleSquare(const BubbleStyle& style, int canvasWidth, int canvasHeight) {
    // bubbleRect counts y upwards from the bottom edge; here rows run down.
    const BubbleRect r = bubbleRect(style, canvasWidth, canvasHeight);
    return {r.x, canvasHeight - r.y - r.height, r.width, r.height};
}

int BubbleCompositor::ringWidth(double bubbleWidth) {
    return std::max(kMinRingWidth, roundToInt(bubbleWidth * kRingShare, 0, 1 << 20));
}

PixelRect BubbleCompositor::screenSourceRect(const ZoomRect& zoom, int screenWidth, int screenHeight,
                                             int canvasWidth, int canvasHeight) {
    const double w = screenWidth;
    const double h = screenHeight;
    PixelRect crop{0, 0, w, h};
    if (zoom.width < 0.999 && zoom.width > 0 && zoom.height > 0) {
        crop = {w * zoom.x, h * zoom.y, w * zoom.width, h * zoom.height};
    }
    if (!(crop.width > 0 && crop.height > 0) || canvasWidth <= 0 || canvasHeight <= 0) return {0, 0, w, h};
    // Scaled to cover the canvas, centred: the canvas sees this much of it.
    const double k = std::max(canvasWidth / crop.width, canvasHeight / crop.height);
    const double visibleWidth = canvasWidth / k;
    const double visibleHeight = canvasHeight / k;
    return {crop.midX() - visibleWidth / 2, crop.midY() - visibleHeight / 2, visibleWidth, visibleHeight};
}

bool BubbleCompositor::render(const VideoFrame* screen, const VideoFrame* camera, double seconds,
                              WritableVideoFrame& canvas) {
    if (canvas.isNull() || canvas.pixelFormat() != PixelFormat::bgra) return false;
    const int width = canvas.width();
    const int height = canvas.height();
    workers_.run(height, [&](int begin, int end) {
        static constexpr std::array<uint8_t, 4> kBlack{0, 0, 0, 255};
        for (int y = begin; y < end; ++y) {
            uint8_t* row = canvas.planeData(0) + static_cast<size_t>(y) * canvas.stride(0);
            for (int x = 0; x < width; ++x) std::memcpy(row + 4 * x, kBlack.data(), 4);
        }
    });
    if (screen != nullptr && !screen->isNull()) drawScreen(*screen, seconds, canvas);
    if (camera != nullptr && !camera->isNull()) {
        if (const BubbleLayer* layer = bubbleLayer(*camera, seconds, width, height)) blendLayer(*layer, canvas);
    }
    return true;
}

void BubbleCompositor::drawScreen(const VideoFrame& screen, double seconds, WritableVideoFrame& canvas) {
    if (canvas.isNull() || canvas.pixelFormat() != PixelFormat::bgra) return;
    const VideoFrame picture = asBgra(screen);
    if (picture.isNull()) return;
    const PixelRect area = screenSourceRect(instruction_.zoom.rect(seconds), picture.width(), picture.height(),
                                            canvas.width(), canvas.height());
    scaledBlit<4>(planeOf(picture), area, planeOf(canvas), workers_);
}

void BubbleCompositor::drawScreen(const Yuv420View& screen, double seconds, Yuv420Canvas& canvas) {
    if (screen.width() <= 0 || screen.height() <= 0) return;
    const PixelRect area = screenSourceRect(instruction_.zoom.rect(seconds), screen.width(), screen.height(),
                                            canvas.width(), canvas.height());
    scaledBlit<1>(screen.planes[0], area, canvas.planes[0], workers_);
    // Chroma: the same part of the picture in half-size coordinates.
    const PixelRect half{area.x / 2, area.y / 2, area.width / 2, area.height / 2};
    const bool whole = area == PixelRect{0, 0, static_cast<double>(screen.width()), static_cast<double>(screen.height())};
    for (int p = 1; p < 3; ++p) {
        const ImagePlane& source = screen.planes[p];
        scaledBlit<1>(source,
                      whole ? PixelRect{0, 0, static_cast<double>(source.width), static_cast<double>(source.height)}
                            : half,
                      canvas.planes[p], workers_);
    }
}

VideoFrame BubbleCompositor::scaledPicture(const CameraSource& camera, const PixelRect& crop, int width,
                                           int height) {
    const bool subsampled = camera.format != AV_PIX_FMT_BGRA;
    int x = clampToInt(std::round(crop.x), 0, camera.width - 1);
    int y = clampToInt(std::round(crop.y), 0, camera.height - 1);
    if (subsampled) {
        // Chroma is shared by 2x2 pixels: the crop starts on one.
        x &= ~1;
        y &= ~1;
    }
    const int w = clampToInt(std::round(crop.width), 1, camera.width - x);
    const int h = clampToInt(std::round(crop.height), 1, camera.height - y);

    WritableVideoFrame picture = acquireSized(pictures_, PixelFormat::bgra, width, height, 2);
    if (picture.isNull()) return {};
    // One pass crops, scales (filtered, so a shrunk face does not shimmer)
    // and turns limited-range BT.709 into full-range RGB.
    SwsContext* scaler = sws_getCachedContext(scaler_.release(), w, h, camera.format, width, height,
                                              AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    scaler_.reset(scaler);
    if (scaler == nullptr) return {};
    if (subsampled) {
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(scaler, bt709, 0, bt709, 1, 0, 1 << 16, 1 << 16);
    }
    std::array<const uint8_t*, 4> source{};
    switch (camera.format) {
    case AV_PIX_FMT_BGRA:
        source[0] = camera.planes[0] + static_cast<ptrdiff_t>(y) * camera.strides[0] + static_cast<ptrdiff_t>(x) * 4;
        break;
    case AV_PIX_FMT_NV12:
        source[0] = camera.planes[0] + static_cast<ptrdiff_t>(y) * camera.strides[0] + x;
        source[1] = camera.planes[1] + static_cast<ptrdiff_t>(y / 2) * camera.strides[1] + x;
        break;
    default:
        for (size_t p = 0; p < 3; ++p) {
            const int shift = p == 0 ? 0 : 1;
            source[p] = camera.planes[p] + static_cast<ptrdiff_t>(y >> shift) * camera.strides[p] + (x >> shift);
        }
        break;
    }
    const std::array<int, 4> strides{camera.strides[0], camera.strides[1], camera.strides[2], 0};
    std::array<uint8_t*, 4> target{picture.planeData(0), nullptr, nullptr, nullptr};
    const std::array<int, 4> targetStrides{static_cast<int>(picture.stride(0)), 0, 0, 0};
    sws_scale(scaler, source.data(), strides.data(), 0, h, target.data(), targetStrides.data());
    return std::move(picture).freeze(camera.pts);
}

const BubbleLayer* BubbleCompositor::bubbleLayer(const VideoFrame& camera, double seconds, int canvasWidth,
                                                 int canvasHeight) {
    CameraSource source;
    if (camera.pixelFormat() == PixelFormat::nv12) {
        source.format = AV_PIX_FMT_NV12;
    } else if (camera.pixelFormat() == PixelFormat::bgra) {
        source.format = AV_PIX_FMT_BGRA;
    } else {
        return nullptr;
    }
    for (int p = 0; p < camera.planeCount(); ++p) {
        source.planes[static_cast<size_t>(p)] = camera.planeData(p);
        source.strides[static_cast<size_t>(p)] = static_cast<int>(camera.stride(p));
    }
    source.width = camera.width();
    source.height = camera.height();
    source.pts = camera.pts();
    return layerFor(source, seconds, canvasWidth, canvasHeight);
}

const BubbleLayer* BubbleCompositor::bubbleLayer(const Yuv420View& camera, double seconds, int canvasWidth,
                                                 int canvasHeight) {
    CameraSource source;
    source.format = AV_PIX_FMT_YUV420P;
    for (size_t p = 0; p < 3; ++p) {
        if (camera.planes[p].data == nullptr) return nullptr;
        source.planes[p] = camera.planes[p].data;
        source.strides[p] = static_cast<int>(camera.planes[p].stride);
    }
    source.width = camera.width();
    source.height = camera.height();
    return layerFor(source, seconds, canvasWidth, canvasHeight);
}

const BubbleLayer* BubbleCompositor::layerFor(const CameraSource& camera, double seconds, int canvasWidth,
                                              int canvasHeight) {
    if (camera.width < 2 || camera.height < 2 || canvasWidth < 2 || canvasHeight < 2) return nullptr;
    const PixelRect extent{0, 0, static_cast<double>(camera.width), static_cast<double>(camera.height)};
    const PixelRect content = cameraContentRect(extent, sizeInForce(instruction_.cameraFrames, seconds));
    if (instruction_.style.shape == BubbleShape::cutout) {
        return cutoutLayer(camera, content, canvasWidth, canvasHeight);
    }
    return circleLayer(camera, content, canvasWidth, canvasHeight);
}

const BubbleLayer* BubbleCompositor::circleLayer(const CameraSource& camera, const PixelRect& content,
                                                 int canvasWidth, int canvasHeight) {
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

    const VideoFrame picture = scaledPicture(camera, circleCrop(content), side, side);
    if (picture.isNull()) return nullptr;
    VideoFrame face = picture;
    if (instruction_.style.background != BubbleBackground::keep) {
        // Segmented only when the room is treated; a failed mask leaves the
        // room as recorded.
        if (const std::optional<PersonMask> mask = segmenter_.scaledMask(picture)) {
            WritableVideoFrame treated = acquireSized(treated_, PixelFormat::bgra, side, side, 2);
            if (!treated.isNull() && applyBackground(picture, &*mask, instruction_.style.background, treated)) {
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
                                                 int canvasWidth, int canvasHeight) {
    const PixelRect square = bubbleSquare(instruction_.style, canvasWidth, canvasHeight);
    const int height = roundToInt(square.height, 0, VideoFrame::kMaxDimension);
    if (height < 2 || !(content.height >= 1) || !(content.width >= 1)) return nullptr;
    // The picture's height becomes the square's; its width follows.
    const double k = height / content.height;
    const int width = roundToInt(content.width * k, 2, VideoFrame::kMaxDimension);

    const VideoFrame picture = scaledPicture(camera, content, width, height);
    if (picture.isNull()) return nullptr;
    const std::optional<PersonMask> mask = segmenter_.scaledMask(picture);
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
