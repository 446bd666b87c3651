#include "hollowkit/imaging/background_treatment.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/imaging/row_workers.h"

namespace hollowkit {

// Matrices of the same size and type keep their memory from blur to blur.
struct BlurScratch::Pictures {
    cv::Mat small;
    cv::Mat background;
};

namespace {

// Mixes one row: out = (image × m + background × (255 − m)) / 255, rounded.
inline void blendRow(const uint8_t* image, const uint8_t* background, const uint8_t* mask, uint8_t* out, int width) {
    for (int x = 0; x < width; ++x) {
        const unsigned m = mask[x];
        const unsigned rest = 255U - m;
        for (int c = 0; c < 4; ++c) {
            out[4 * x + c] = static_cast<uint8_t>((image[4 * x + c] * m + background[4 * x + c] * rest + 127U) / 255U);
        }
    }
}

double srgbToLinear(double value) {
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double linearToSrgb(double value) {
    return value <= 0.0031308 ? value * 12.92 : 1.055 * std::pow(value, 1.0 / 2.4) - 0.055;
}

// The backdrop's colour along its radius, BGRA, from the centre (0) to the
// outer radius and beyond (kSteps). The mix is made in linear light so the
// falloff looks even; the two ends are the given colours exactly.
constexpr int kSteps = 1024;
struct BackdropRamp {
    std::array<std::array<uint8_t, 4>, kSteps + 1> colors{};

    BackdropRamp() {
        const RgbColor& a = kBackdropCenterColor;
        const RgbColor& b = kBackdropOuterColor;
        auto channel = [](double from, double to, double t) {
            const double mixed = srgbToLinear(from) + t * (srgbToLinear(to) - srgbToLinear(from));
            return static_cast<uint8_t>(std::lround(std::clamp(linearToSrgb(mixed), 0.0, 1.0) * 255.0));
        };
        for (int i = 0; i <= kSteps; ++i) {
            const double t = static_cast<double>(i) / kSteps;
            colors[i] = {channel(a.blue, b.blue, t), channel(a.green, b.green, t), channel(a.red, b.red, t), 255};
        }
    }
};

const BackdropRamp& backdropRamp() {
    static const BackdropRamp ramp;
    return ramp;
}

struct BackdropShape {
    float centerX = 0;
    float centerY = 0;
    float stepsPerPixel = 0;  // ramp steps per pixel of distance
};

BackdropShape backdropShape(int width, int height) {
    const double radius = kBackdropRadiusShare * std::min(width, height);
    // Measured from the top: the picture's rows run downwards.
    return {static_cast<float>(0.5 * width), static_cast<float>(kBackdropCenterYShare * height),
            static_cast<float>(kSteps / radius)};
}

// One row of the backdrop, sampled at pixel centres.
inline void backdropRow(const BackdropShape& shape, int y, int width, uint8_t* out) {
    const auto& ramp = backdropRamp().colors;
    const float dy = static_cast<float>(y) + 0.5F - shape.centerY;
    const float dy2 = dy * dy;
    for (int x = 0; x < width; ++x) {
        const float dx = static_cast<float>(x) + 0.5F - shape.centerX;
        const float steps = std::sqrt(dx * dx + dy2) * shape.stepsPerPixel;
        const int index = steps >= static_cast<float>(kSteps) ? kSteps : static_cast<int>(steps + 0.5F);
        std::memcpy(out + 4 * x, ramp[index].data(), 4);
    }
}

// The whole image blurred with sigma 0.035 × the shorter side. A blur this
// wide is made on a picture brought down by up to 8× and brought back up:
// the result matches a full-size blur to well within a level, at a small
// fraction of the cost. The result lives in `scratch` until its next blur.
const cv::Mat& blurredBackground(const cv::Mat& image, BlurScratch::Pictures& scratch) {
    const double sigma = kBackgroundBlurSigmaShare * std::min(image.cols, image.rows);
    const int factor = std::clamp(static_cast<int>(sigma / 4.0), 1, 8);
    if (factor == 1) {
        cv::GaussianBlur(image, scratch.background, cv::Size(0, 0), sigma, sigma, cv::BORDER_REPLICATE);
        return scratch.background;
    }
    cv::resize(image, scratch.small,
               cv::Size((image.cols + factor - 1) / factor, (image.rows + factor - 1) / factor), 0, 0,
               cv::INTER_AREA);
    // Averaging down and interpolating up blur a little themselves (a box of
    // the factor's width, then a triangle); the Gaussian supplies the rest.
    const double f2 = static_cast<double>(factor) * factor;
    const double remaining = std::max(sigma * sigma - (f2 - 1.0) / 12.0 - f2 / 6.0, 0.25);
    const double smallSigma = std::sqrt(remaining) / factor;
    cv::GaussianBlur(scratch.small, scratch.small, cv::Size(0, 0), smallSigma, smallSigma, cv::BORDER_REPLICATE);
    cv::resize(scratch.small, scratch.background, image.size(), 0, 0, cv::INTER_LINEAR);
    return scratch.background;
}

void copyImage(const VideoFrame& image, WritableVideoFrame& output) {
    const size_t rowBytes = static_cast<size_t>(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(output.planeData(0) + static_cast<size_t>(y) * output.stride(0),
                    image.planeData(0) + static_cast<size_t>(y) * image.stride(0), rowBytes);
    }
}

}  // namespace

BlurScratch::BlurScratch() = default;
BlurScratch::~BlurScratch() = default;

void BlurScratch::release() {
    pictures_.reset();
}

size_t BlurScratch::heldBytes() const {
    if (!pictures_) return 0;
    return pictures_->small.total() * pictures_->small.elemSize() +
           pictures_->background.total() * pictures_->background.elemSize();
}

BlurScratch::Pictures& BlurScratch::pictures() {
    if (!pictures_) pictures_ = std::make_unique<Pictures>();
    return *pictures_;
}

void drawBackdrop(WritableVideoFrame& output, RowWorkers* workers) {
    if (output.isNull() || output.pixelFormat() != PixelFormat::bgra) {
        return;
    }
    const BackdropShape shape = backdropShape(output.width(), output.height());
    uint8_t* base = output.planeData(0);
    const size_t stride = output.stride(0);
    const int width = output.width();
    runRows(workers, output.height(), [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            backdropRow(shape, y, width, base + static_cast<size_t>(y) * stride);
        }
    });
}

bool applyBackground(const VideoFrame& image, const PersonMask* mask, BubbleBackground treatment,
                     WritableVideoFrame& output, RowWorkers* workers, BlurScratch* scratch) {
    if (image.pixelFormat() != PixelFormat::bgra || output.isNull() || output.pixelFormat() != PixelFormat::bgra ||
        output.width() != image.width() || output.height() != image.height()) {
        return false;
    }
    const int width = image.width();
    const int height = image.height();
    const bool masked = mask != nullptr && mask->isValid() && mask->width == width && mask->height == height;
    if (treatment == BubbleBackground::keep || !masked) {
        copyImage(image, output);
        return true;
    }

    const uint8_t* source = image.planeData(0);
    const size_t sourceStride = image.stride(0);
    uint8_t* target = output.planeData(0);
    const size_t targetStride = output.stride(0);

    try {
        if (treatment == BubbleBackground::blur) {
            const cv::Mat picture(height, width, CV_8UC4, const_cast<uint8_t*>(source), sourceStride);
            BlurScratch callScratch;
            const cv::Mat& background =
                blurredBackground(picture, (scratch != nullptr ? *scratch : callScratch).pictures());
            runRows(workers, height, [&](int begin, int end) {
                for (int y = begin; y < end; ++y) {
                    blendRow(source + static_cast<size_t>(y) * sourceStride, background.ptr<uint8_t>(y),
                             mask->row(y), target + static_cast<size_t>(y) * targetStride, width);
                }
            });
            return true;
        }

        const BackdropShape shape = backdropShape(width, height);
        runRows(workers, height, [&](int begin, int end) {
            std::vector<uint8_t> backdrop(static_cast<size_t>(width) * 4);
            for (int y = begin; y < end; ++y) {
                backdropRow(shape, y, width, backdrop.data());
                blendRow(source + static_cast<size_t>(y) * sourceStride, backdrop.data(), mask->row(y),
                         target + static_cast<size_t>(y) * targetStride, width);
            }
        });
        return true;
    } catch (...) {
        // Out of memory in the blur: the picture goes on as it is.
        copyImage(image, output);
        return true;
    }
}

VideoFrame applyBackground(const VideoFrame& image, const PersonMask* mask, BubbleBackground treatment) {
    const bool masked = mask != nullptr && mask->isValid() && mask->width == image.width() &&
                        mask->height == image.height();
    if (treatment == BubbleBackground::keep || !masked || image.isNull()) {
        return image;
    }
    const VideoFrame picture = asBgra(image);
    if (picture.isNull()) {
        return image;
    }
    WritableVideoFrame output = WritableVideoFrame::allocate(PixelFormat::bgra, image.width(), image.height());
    if (!applyBackground(picture, mask, treatment, output)) {
        return image;
    }
    return std::move(output).freeze(image.pts());
}

}  // namespace hollowkit
