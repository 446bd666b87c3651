#include "hollowkit/testing/imaging_test_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace hollowkit {

namespace {

uint8_t clampByte(double value) { return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

// A face detector's box for a head of this size: across its width, from
// below the hair to above the chin (the rest of its height).
NormalizedRect faceBoxOfHead(double left, double top, double width, double headHeight, double pictureWidth,
                             double pictureHeight) {
    constexpr double kHair = 0.4;  // of the face box's height, above it
    constexpr double kChin = 0.05;  // below it
    const double boxHeight = headHeight / (1 + kHair + kChin);
    return {left / pictureWidth, (top + kHair * boxHeight) / pictureHeight, width / pictureWidth,
            boxHeight / pictureHeight};
}

// A small deterministic generator, so scenes are equal on every machine.
struct Lcg {
    uint32_t state;
    int next(int spread) {
        state = state * 1664525U + 1013904223U;
        return static_cast<int>((state >> 16) % static_cast<uint32_t>(2 * spread + 1)) - spread;
    }
};

}  // namespace

FigureScene makeFigureScene(int width, int height, PixelFormat format, uint32_t seed) {
    return makeFigureScene(width, height, FigurePlace{}, format, seed);
}

FigureScene makeFigureScene(int width, int height, FigurePlace place, PixelFormat format, uint32_t seed) {
    FigureScene scene;
    scene.truth = PersonMask::filled(width, height, 0);
    scene.hair = PersonMask::filled(width, height, 0);
    WritableVideoFrame frame = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
    if (frame.isNull()) {
        return scene;
    }
    const double h = height;
    const double cx = place.centerX * width;
    const double headY = place.headY * h;
    const double headRx = 0.09 * h;
    const double headRy = 0.12 * h;
    const double shoulderY = headY + 0.18 * h;
    Lcg random{seed};
    const int checker = std::max(4, height / 20);

    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.planeData(0) + static_cast<size_t>(y) * frame.stride(0);
        for (int x = 0; x < width; ++x) {
            const double px = x + 0.5;
            const double py = y + 0.5;
            const double hx = (px - cx) / headRx;
            const double hy = (py - headY) / headRy;
            const bool head = hx * hx + hy * hy <= 1.0;
            // Hair: a cap over the crown, standing `hair` above the head.
            const double capX = (px - cx) / (1.08 * headRx);
            const double capY = (py - headY) / (headRy + place.hair * h);
            const bool hair = place.hair > 0 && capX * capX + capY * capY <= 1.0 && py < headY - 0.55 * headRy;
            const bool neck = std::abs(px - cx) <= 0.045 * h && py >= headY && py <= shoulderY + 0.02 * h;
            // The torso widens from the shoulders to the bottom edge.
            const double halfWidth = 0.20 * h + 0.06 * h * (py - shoulderY) / std::max(1.0, h - shoulderY);
            const bool torso = py >= shoulderY && std::abs(px - cx) <= halfWidth;
            double b;
            double g;
            double r;
            if (hair) {
                b = 30;
                g = 40;
                r = 55;
            } else if (head || neck) {
                b = 120;
                g = 150;
                r = 205;
            } else if (torso) {
                b = 45;
                g = 35;
                r = 150;
            } else {
                // Room: teal fading to grey across the width, with a checker.
                const double t = px / width;
                const bool dark = ((x / checker) + (y / checker)) % 2 == 0;
                const double shade = dark ? -25 : 25;
                b = 150 - 30 * t + shade;
                g = 140 - 10 * t + shade;
                r = 70 + 60 * t + shade;
            }
            const int noise = random.next(6);
            row[4 * x + 0] = clampByte(b + noise);
            row[4 * x + 1] = clampByte(g + noise);
            row[4 * x + 2] = clampByte(r + noise);
            row[4 * x + 3] = 255;
            if (head || neck || torso || hair) {
                scene.truth.row(y)[x] = 255;
            }
            if (hair) {
                scene.hair.row(y)[x] = 255;
            }
        }
    }
    scene.face = faceBoxOfHead(cx - headRx, headY - headRy, 2 * headRx, 2 * headRy, width, h);
    VideoFrame bgra = std::move(frame).freeze(TimePoint{});
    scene.frame = format == PixelFormat::nv12 ? toNv12(bgra) : bgra;
    return scene;
}

std::optional<NormalizedRect> findFigureFace(const VideoFrame& bgra) {
    if (bgra.pixelFormat() != PixelFormat::bgra || bgra.width() < 1 || bgra.height() < 1) {
        return std::nullopt;
    }
    // The skin tone and its noise; neither the shirt nor the room comes near,
    // though the colour fringes of a subsampled picture may in specks.
    cv::Mat skin(bgra.height(), bgra.width(), CV_8UC1);
    for (int y = 0; y < bgra.height(); ++y) {
        const uint8_t* row = bgra.planeData(0) + static_cast<size_t>(y) * bgra.stride(0);
        auto* out = skin.ptr<uint8_t>(y);
        for (int x = 0; x < bgra.width(); ++x) {
            const uint8_t* p = row + 4 * x;
            out[x] = std::abs(p[0] - 120) <= 24 && std::abs(p[1] - 150) <= 24 && std::abs(p[2] - 205) <= 24 ? 255 : 0;
        }
    }
    // The head and neck are the largest piece of skin.
    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    const int count = cv::connectedComponentsWithStats(skin, labels, stats, centroids, 8);
    int largest = 0;
    for (int i = 1; i < count; ++i) {
        if (largest == 0 || stats.at<int>(i, cv::CC_STAT_AREA) > stats.at<int>(largest, cv::CC_STAT_AREA)) {
            largest = i;
        }
    }
    if (largest == 0) {
        return std::nullopt;
    }
    // The head is 4/3 as high as it is wide.
    const double width = stats.at<int>(largest, cv::CC_STAT_WIDTH);
    return faceBoxOfHead(stats.at<int>(largest, cv::CC_STAT_LEFT), stats.at<int>(largest, cv::CC_STAT_TOP), width,
                         width * 4.0 / 3.0, bgra.width(), bgra.height());
}

VideoFrame loadImageFile(const std::string& path) {
    cv::Mat bgr = cv::imread(path, cv::IMREAD_COLOR);
    if (bgr.empty()) {
        return {};
    }
    WritableVideoFrame frame = WritableVideoFrame::allocate(PixelFormat::bgra, bgr.cols, bgr.rows);
    if (frame.isNull()) {
        return {};
    }
    cv::Mat target(bgr.rows, bgr.cols, CV_8UC4, frame.planeData(0), frame.stride(0));
    cv::cvtColor(bgr, target, cv::COLOR_BGR2BGRA);
    return std::move(frame).freeze(TimePoint{});
}

VideoFrame filledTo(const VideoFrame& bgra, int width, int height) {
    if (bgra.pixelFormat() != PixelFormat::bgra || width <= 0 || height <= 0) {
        return {};
    }
    WritableVideoFrame out = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
    if (out.isNull()) {
        return {};
    }
    // The largest middle part of the source with the target's shape.
    const double scale = std::min(static_cast<double>(bgra.width()) / width, static_cast<double>(bgra.height()) / height);
    const int cropWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int cropHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    const cv::Mat source(bgra.height(), bgra.width(), CV_8UC4, const_cast<uint8_t*>(bgra.planeData(0)), bgra.stride(0));
    const cv::Mat crop = source(cv::Rect((bgra.width() - cropWidth) / 2, (bgra.height() - cropHeight) / 2, cropWidth, cropHeight));
    cv::Mat target(height, width, CV_8UC4, out.planeData(0), out.stride(0));
    cv::resize(crop, target, target.size(), 0, 0, cropWidth > width ? cv::INTER_AREA : cv::INTER_LINEAR);
    return std::move(out).freeze(bgra.pts());
}

VideoFrame mirrored(const VideoFrame& bgra) {
    if (bgra.pixelFormat() != PixelFormat::bgra) {
        return {};
    }
    WritableVideoFrame out = WritableVideoFrame::allocate(PixelFormat::bgra, bgra.width(), bgra.height());
    if (out.isNull()) {
        return {};
    }
    const int width = bgra.width();
    for (int y = 0; y < bgra.height(); ++y) {
        const uint8_t* in = bgra.planeData(0) + static_cast<size_t>(y) * bgra.stride(0);
        uint8_t* row = out.planeData(0) + static_cast<size_t>(y) * out.stride(0);
        for (int x = 0; x < width; ++x) {
            std::memcpy(row + 4 * static_cast<size_t>(x), in + 4 * static_cast<size_t>(width - 1 - x), 4);
        }
    }
    return std::move(out).freeze(bgra.pts());
}

VideoFrame toNv12(const VideoFrame& bgra) {
    if (bgra.pixelFormat() != PixelFormat::bgra) {
        return {};
    }
    const int width = bgra.width();
    const int height = bgra.height();
    WritableVideoFrame out = WritableVideoFrame::allocate(PixelFormat::nv12, width, height);
    if (out.isNull()) {
        return {};
    }
    constexpr double kr = 0.2126;
    constexpr double kb = 0.0722;
    auto lumaOf = [&](int x, int y, double& r, double& g, double& b) {
        const uint8_t* p = bgra.planeData(0) + static_cast<size_t>(y) * bgra.stride(0) + 4 * static_cast<size_t>(x);
        b = p[0] / 255.0;
        g = p[1] / 255.0;
        r = p[2] / 255.0;
        return kr * r + (1 - kr - kb) * g + kb * b;
    };
    for (int y = 0; y < height; ++y) {
        uint8_t* row = out.planeData(0) + static_cast<size_t>(y) * out.stride(0);
        for (int x = 0; x < width; ++x) {
            double r;
            double g;
            double b;
            row[x] = clampByte(16 + 219 * lumaOf(x, y, r, g, b));
        }
    }
    for (int y = 0; y < (height + 1) / 2; ++y) {
        uint8_t* row = out.planeData(1) + static_cast<size_t>(y) * out.stride(1);
        for (int x = 0; x < (width + 1) / 2; ++x) {
            double cb = 0;
            double cr = 0;
            int count = 0;
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const int sx = std::min(2 * x + dx, width - 1);
                    const int sy = std::min(2 * y + dy, height - 1);
                    double r;
                    double g;
                    double b;
                    const double luma = lumaOf(sx, sy, r, g, b);
                    cb += (b - luma) / (2 * (1 - kb));
                    cr += (r - luma) / (2 * (1 - kr));
                    ++count;
                }
            }
            row[2 * x] = clampByte(128 + 224 * cb / count);
            row[2 * x + 1] = clampByte(128 + 224 * cr / count);
        }
    }
    return std::move(out).freeze(bgra.pts());
}

BgraPixel pixelAt(const VideoFrame& bgra, int x, int y) {
    const uint8_t* p = bgra.planeData(0) + static_cast<size_t>(y) * bgra.stride(0) + 4 * static_cast<size_t>(x);
    return {p[0], p[1], p[2], p[3]};
}

int sureTruth(const PersonMask& truth, double x, double y, double margin) {
    int seen = -1;
    for (double dy : {-margin, 0.0, margin}) {
        for (double dx : {-margin, 0.0, margin}) {
            const int px = std::clamp(static_cast<int>(x + dx), 0, truth.width - 1);
            const int py = std::clamp(static_cast<int>(y + dy), 0, truth.height - 1);
            const int here = truth.at(px, py) >= 128 ? 1 : 0;
            if (seen >= 0 && here != seen) return -1;
            seen = here;
        }
    }
    return seen;
}

}  // namespace hollowkit
