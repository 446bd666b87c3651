#include "hollowkit/imaging/bgra_frames.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "hollowkit/imaging/nv12_tables.h"
#include "hollowkit/media/pixel_buffer_pool.h"
#include "hollowkit/imaging/row_workers.h"

namespace hollowkit {

// Matrices of the same size and type keep their memory from picture to
// picture; the pool is remade when the size changes.
struct BgraScratch::Parts {
    cv::Mat luma;  // scaled planes of an NV12 picture
    cv::Mat chroma;
    std::unique_ptr<PixelBufferPool> pictures;  // asBgra's results
};

BgraScratch::BgraScratch() = default;
BgraScratch::~BgraScratch() = default;

void BgraScratch::release() {
    parts_.reset();
}

size_t BgraScratch::heldBytes() const {
    if (!parts_) return 0;
    size_t bytes = parts_->luma.total() * parts_->luma.elemSize() + parts_->chroma.total() * parts_->chroma.elemSize();
    if (const PixelBufferPool* pool = parts_->pictures.get()) {
        bytes += pool->idleCount() * static_cast<size_t>(pool->width()) * static_cast<size_t>(pool->height()) * 4;
    }
    return bytes;
}

BgraScratch::Parts& BgraScratch::parts() {
    if (!parts_) parts_ = std::make_unique<Parts>();
    return *parts_;
}

namespace {

// Rows [rowBegin, rowEnd) of an NV12 picture as packed, opaque BGRA.
void convertNv12Rows(const uint8_t* y, size_t yStride, const uint8_t* uv, size_t uvStride, uint8_t* bgra,
                     size_t bgraStride, int width, int rowBegin, int rowEnd) {
    const nv12::Tables& t = nv12::Tables::get();
    for (int row = rowBegin; row < rowEnd; ++row) {
        const uint8_t* lumaRow = y + static_cast<size_t>(row) * yStride;
        const uint8_t* chromaRow = uv + static_cast<size_t>(row / 2) * uvStride;
        uint8_t* out = bgra + static_cast<size_t>(row) * bgraStride;
        // One chroma sample serves two neighbouring pixels.
        for (int x = 0; x < width; x += 2) {
            const nv12::Chroma c = nv12::chroma(t, chromaRow[x], chromaRow[x + 1]);
            const int pixels = std::min(2, width - x);
            for (int i = 0; i < pixels; ++i) {
                const nv12::Rgb8 q = nv12::pixel(t, lumaRow[x + i], c);
                uint8_t* p = out + 4 * (x + i);
                p[0] = q.b;
                p[1] = q.g;
                p[2] = q.r;
                p[3] = 255;
            }
        }
    }
}

// Whole chroma rows (two luma rows each) go to each worker, so no two
// workers ever share a chroma row.
void convertNv12(const uint8_t* y, size_t yStride, const uint8_t* uv, size_t uvStride, uint8_t* bgra,
                 size_t bgraStride, int width, int height, RowWorkers* workers) {
    runRows(workers, (height + 1) / 2, [&](int pairBegin, int pairEnd) {
        convertNv12Rows(y, yStride, uv, uvStride, bgra, bgraStride, width, 2 * pairBegin,
                        std::min(height, 2 * pairEnd));
    });
}

cv::Mat matOf(const VideoFrame& frame, int plane, int type, int rows, int cols) {
    return cv::Mat(rows, cols, type, const_cast<uint8_t*>(frame.planeData(plane)), frame.stride(plane));
}

}  // namespace

bool drawAsBgra(const VideoFrame& frame, WritableVideoFrame& output, RowWorkers* workers, BgraScratch* scratch) {
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
            BgraScratch callScratch;
            BgraScratch::Parts& planes = (scratch != nullptr ? *scratch : callScratch).parts();
            cv::Mat& luma = planes.luma;
            cv::Mat& chroma = planes.chroma;
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

VideoFrame asBgra(const VideoFrame& frame, BgraScratch* scratch) {
    if (frame.pixelFormat() == PixelFormat::bgra) {
        return frame;
    }
    if (frame.pixelFormat() != PixelFormat::nv12) {
        return {};
    }
    // The pictures come back to the scratch's pool once their last frame is
    // gone; one stays ready for the next.
    WritableVideoFrame output =
        scratch != nullptr
            ? acquireSized(scratch->parts().pictures, PixelFormat::bgra, frame.width(), frame.height(), 1)
            : WritableVideoFrame::allocate(PixelFormat::bgra, frame.width(), frame.height());
    if (!drawAsBgra(frame, output)) {
        return {};
    }
    return std::move(output).freeze(frame.pts());
}

}  // namespace hollowkit
