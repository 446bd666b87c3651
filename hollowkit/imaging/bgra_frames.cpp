#include "hollowkit/imaging/bgra_frames.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "hollowkit/imaging/row_workers.h"

namespace hollowkit {

namespace {

constexpr int kFractionBits = 14;

// BT.709 limited range in fixed point, one table entry per code value, so a
// pixel costs four lookups and three additions.
struct Nv12Tables {
    std::array<int32_t, 256> luma{};
    std::array<int32_t, 256> redFromCr{};
    std::array<int32_t, 256> greenFromCb{};
    std::array<int32_t, 256> greenFromCr{};
    std::array<int32_t, 256> blueFromCb{};

    Nv12Tables() {
        constexpr double kr = 0.2126;
        constexpr double kb = 0.0722;
        constexpr double kg = 1.0 - kr - kb;
        constexpr double lumaScale = 255.0 / 219.0;
        constexpr double chromaScale = 255.0 / 224.0;
        constexpr double one = 1 << kFractionBits;
        for (int code = 0; code < 256; ++code) {
            const double c = code - 128.0;
            luma[code] = static_cast<int32_t>(std::lround((code - 16.0) * lumaScale * one));
            redFromCr[code] = static_cast<int32_t>(std::lround(2.0 * (1.0 - kr) * chromaScale * c * one));
            blueFromCb[code] = static_cast<int32_t>(std::lround(2.0 * (1.0 - kb) * chromaScale * c * one));
            greenFromCb[code] =
                static_cast<int32_t>(std::lround(-2.0 * (1.0 - kb) * kb / kg * chromaScale * c * one));
            greenFromCr[code] =
                static_cast<int32_t>(std::lround(-2.0 * (1.0 - kr) * kr / kg * chromaScale * c * one));
        }
    }
};

const Nv12Tables& nv12Tables() {
    static const Nv12Tables tables;
    return tables;
}

inline uint8_t toByte(int32_t value) {
    value = (value + (1 << (kFractionBits - 1))) >> kFractionBits;
    return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// Whole chroma rows (two luma rows each) go to each worker, so no two
// workers ever share a chroma row.
void convertNv12(const uint8_t* y, size_t yStride, const uint8_t* uv, size_t uvStride, uint8_t* bgra,
                 size_t bgraStride, int width, int height, RowWorkers* workers) {
    const int pairs = (height + 1) / 2;
    auto job = [&](int pairBegin, int pairEnd) {
        convertNv12Rows(y, yStride, uv, uvStride, bgra, bgraStride, width, 2 * pairBegin,
                        std::min(height, 2 * pairEnd));
    };
    if (workers != nullptr) {
        workers->run(pairs, job);
    } else {
        job(0, pairs);
    }
}

cv::Mat matOf(const VideoFrame& frame, int plane, int type, int rows, int cols) {
    return cv::Mat(rows, cols, type, const_cast<uint8_t*>(frame.planeData(plane)), frame.stride(plane));
}

}  // namespace

void convertNv12Rows(const uint8_t* y, size_t yStride, const uint8_t* uv, size_t uvStride, uint8_t* bgra,
                     size_t bgraStride, int width, int rowBegin, int rowEnd) {
    const Nv12Tables& t = nv12Tables();
    for (int row = rowBegin; row < rowEnd; ++row) {
        const uint8_t* lumaRow = y + static_cast<size_t>(row) * yStride;
        const uint8_t* chromaRow = uv + static_cast<size_t>(row / 2) * uvStride;
        uint8_t* out = bgra + static_cast<size_t>(row) * bgraStride;
        // One chroma sample serves two neighbouring pixels.
        for (int x = 0; x < width; x += 2) {
            const int cb = chromaRow[x];
            const int cr = chromaRow[x + 1];
            const int32_t blue = t.blueFromCb[cb];
            const int32_t green = t.greenFromCb[cb] + t.greenFromCr[cr];
            const int32_t red = t.redFromCr[cr];
            const int pixels = std::min(2, width - x);
            for (int i = 0; i < pixels; ++i) {
                const int32_t l = t.luma[lumaRow[x + i]];
                uint8_t* p = out + 4 * (x + i);
                p[0] = toByte(l + blue);
                p[1] = toByte(l + green);
                p[2] = toByte(l + red);
                p[3] = 255;
            }
        }
    }
}

bool drawAsBgra(const VideoFrame& frame, WritableVideoFrame& output, RowWorkers* workers) {
    if (frame.isNull() || output.isNull() || output.pixelFormat() != PixelFormat::bgra) {
        return false;
    }
    const int width = output.width();
    const int height = output.height();
    const bool sameSize = frame.width() == width && frame.height() == height;
    const bool shrinking = width <= frame.width() && height <= frame.height();
    const int interpolation = shrinking ? cv::INTER_AREA : cv::INTER_LINEAR;
    try {
        cv::Mat target(height, width, CV_8UC4, output.planeData(0), output.stride(0));
        switch (frame.pixelFormat()) {
        case PixelFormat::bgra: {
            const cv::Mat source = matOf(frame, 0, CV_8UC4, frame.height(), frame.width());
            if (sameSize) {
                source.copyTo(target);
            } else {
                cv::resize(source, target, target.size(), 0, 0, interpolation);
            }
            return true;
        }
        case PixelFormat::nv12: {
            if (sameSize) {
                convertNv12(frame.planeData(0), frame.stride(0), frame.planeData(1), frame.stride(1),
                            output.planeData(0), output.stride(0), width, height, workers);
                return true;
            }
            // Scale the planes first: converting the full-size picture
            // would cost far more than the scaling saves.
            cv::Mat luma;
            cv::Mat chroma;
            cv::resize(matOf(frame, 0, CV_8UC1, frame.height(), frame.width()), luma, cv::Size(width, height), 0, 0,
                       interpolation);
            cv::resize(matOf(frame, 1, CV_8UC2, (frame.height() + 1) / 2, (frame.width() + 1) / 2), chroma,
                       cv::Size((width + 1) / 2, (height + 1) / 2), 0, 0, interpolation);
            convertNv12(luma.data, luma.step, chroma.data, chroma.step, output.planeData(0), output.stride(0), width,
                        height, workers);
            return true;
        }
        case PixelFormat::none:
            break;
        }
    } catch (...) {
        return false;
    }
    return false;
}

VideoFrame asBgra(const VideoFrame& frame) {
    if (frame.pixelFormat() == PixelFormat::bgra) {
        return frame;
    }
    if (frame.pixelFormat() != PixelFormat::nv12) {
        return {};
    }
    WritableVideoFrame output = WritableVideoFrame::allocate(PixelFormat::bgra, frame.width(), frame.height());
    if (!drawAsBgra(frame, output)) {
        return {};
    }
    return std::move(output).freeze(frame.pts());
}

}  // namespace hollowkit
