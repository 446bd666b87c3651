#include "lumenhollow/ui/window/display_scaling.h"

#include <opencv2/imgproc.hpp>

#include <array>
#include <memory>

#include "hollowkit/imaging/bgra_frames.h"

namespace lumenhollow {

namespace {

cv::Mat planeOf(const hollowkit::VideoFrame& frame, int plane, int type, int rows, int cols) {
    return cv::Mat(rows, cols, type, const_cast<uint8_t*>(frame.planeData(plane)), frame.stride(plane));
}

int interpolationFor(double scale) {
    return scale < 0.5 ? cv::INTER_AREA : cv::INTER_LINEAR;
}

}  // namespace

bool drawForDisplay(const hollowkit::VideoFrame& frame, hollowkit::WritableVideoFrame& output) {
    if (frame.isNull() || output.isNull() || output.pixelFormat() != hollowkit::PixelFormat::bgra) return false;
    const int width = output.width();
    const int height = output.height();
    if (frame.pixelFormat() != hollowkit::PixelFormat::nv12 || (width == frame.width() && height == frame.height())) {
        return hollowkit::drawAsBgra(frame, output);
    }
    const int interpolation =
        interpolationFor(std::min(static_cast<double>(width) / frame.width(), static_cast<double>(height) / frame.height()));
    // Scratch planes kept per thread: a delivering thread scales frame after
    // frame at one size, so they are made once.
    thread_local cv::Mat luma;
    thread_local cv::Mat chroma;
    try {
        cv::resize(planeOf(frame, 0, CV_8UC1, frame.height(), frame.width()), luma, cv::Size(width, height), 0, 0,
                   interpolation);
        cv::resize(planeOf(frame, 1, CV_8UC2, (frame.height() + 1) / 2, (frame.width() + 1) / 2), chroma,
                   cv::Size((width + 1) / 2, (height + 1) / 2), 0, 0, interpolation);
    } catch (...) {
        return false;
    }
    const std::array<hollowkit::PlaneView, 2> planes{hollowkit::PlaneView{luma.data, luma.step},
                                                     hollowkit::PlaneView{chroma.data, chroma.step}};
    // Borrowed for the conversion only; the scratch planes outlive it.
    const hollowkit::VideoFrame scaled =
        hollowkit::VideoFrame::wrap(hollowkit::PixelFormat::nv12, width, height, planes, frame.pts(),
                                    std::shared_ptr<const void>(&luma, [](const void*) {}));
    return hollowkit::drawAsBgra(scaled, output);
}

}  // namespace lumenhollow
