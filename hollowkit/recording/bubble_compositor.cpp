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
#include "hollowkit/recording/bubble_compositor_parts.h"
#include "hollowkit/recording/bubble_geometry.h"


namespace hollowkit {

using bubble_parts::clampToInt;
using bubble_parts::kWeightOne;
using bubble_parts::roundToInt;

namespace {

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

}  // namespace

BubbleCompositor::BubbleCompositor(BubbleInstruction instruction, std::unique_ptr<SegmentationBackend> backend,
                                   int threads, std::unique_ptr<FaceDetectorBackend> faces)
    : instruction_(std::move(instruction)),
      segmenter_(backend ? std::move(backend) : std::make_unique<GrabCutSegmentationBackend>()),
      workers_(std::max(1, threads)),
      blur_(std::make_unique<BlurScratch>()),
      screenPictures_(std::make_unique<BgraScratch>()),
      faces_(std::move(faces)) {}

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
    const VideoFrame picture = asBgra(screen, screenPictures_.get());
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

VideoFrame BubbleCompositor::scaledPicture(const CameraSource& camera, const PixelRect& crop, int width, int height,
                                           std::unique_ptr<PixelBufferPool>& pool, ffmpeg::SwsContextPtr& cached) {
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

    WritableVideoFrame picture = acquireSized(pool, PixelFormat::bgra, width, height, 2);
    if (picture.isNull()) return {};
    // One pass crops, scales (filtered, so a shrunk face does not shimmer)
    // and turns limited-range BT.709 into full-range RGB.
    SwsContext* scaler = sws_getCachedContext(cached.release(), w, h, camera.format, width, height,
                                              AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    cached.reset(scaler);
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
        return cutoutLayer(camera, content, seconds, canvasWidth, canvasHeight);
    }
    return circleLayer(camera, content, seconds, canvasWidth, canvasHeight);
}

std::optional<NormalizedRect> BubbleCompositor::faceIn(const CameraSource& camera, const PixelRect& crop,
                                                       double seconds) {
    // A face found in another part of the picture (the camera's picture
    // changed shape) would seed the mask in the wrong place.
    if (crop != faceCrop_) {
        faces_.forget();
        faceCrop_ = crop;
    }
    if (faces_.due(seconds) && crop.width >= 2 && crop.height >= 2) {
        const double k = std::min(1.0, kFaceSearchWidth / crop.width);
        const int width = roundToInt(crop.width * k, 2, VideoFrame::kMaxDimension);
        const int height = roundToInt(crop.height * k, 2, VideoFrame::kMaxDimension);
        const VideoFrame picture = scaledPicture(camera, crop, width, height, searched_, searchScaler_);
        if (!picture.isNull()) faces_.search(picture, seconds);
    }
    return faces_.face();
}

}  // namespace hollowkit
