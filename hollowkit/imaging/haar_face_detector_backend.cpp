#include "hollowkit/imaging/haar_face_detector_backend.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

namespace hollowkit {

namespace {

// The cascade's own window: it finds nothing smaller.
constexpr int kCascadeWindow = 24;

// The frame's luma as an 8-bit picture at most `maxWidth` wide (never
// enlarged): NV12's Y plane is scaled as it is; BGRA is scaled before it is
// turned grey, so a 4K frame costs no more than a small one.
std::optional<cv::Mat> scaledLuma(const VideoFrame& frame, int maxWidth) {
    cv::Size size(frame.width(), frame.height());
    if (maxWidth > 0 && size.width > maxWidth) {
        size = cv::Size(maxWidth, std::max(1, static_cast<int>(std::lround(static_cast<double>(frame.height()) *
                                                                             maxWidth / frame.width()))));
    }
    const bool scaled = size.width != frame.width();
    // OpenCV wants mutable pointers; these pictures are only read.
    auto* data = const_cast<uint8_t*>(frame.planeData(0));
    switch (frame.pixelFormat()) {
    case PixelFormat::nv12: {
        cv::Mat luma(frame.height(), frame.width(), CV_8UC1, data, frame.stride(0));
        if (!scaled) {
            return luma;
        }
        cv::Mat small;
        cv::resize(luma, small, size, 0, 0, cv::INTER_AREA);
        return small;
    }
    case PixelFormat::bgra: {
        cv::Mat colour(frame.height(), frame.width(), CV_8UC4, data, frame.stride(0));
        cv::Mat small;
        if (scaled) {
            cv::resize(colour, small, size, 0, 0, cv::INTER_AREA);
        } else {
            small = colour;
        }
        cv::Mat gray;
        cv::cvtColor(small, gray, cv::COLOR_BGRA2GRAY);
        return gray;
    }
    case PixelFormat::none:
        break;
    }
    return std::nullopt;
}

}  // namespace

struct HaarFaceDetectorBackend::Impl {
    cv::CascadeClassifier cascade;
    bool loadTried = false;
    bool loaded = false;
};

HaarFaceDetectorBackend::HaarFaceDetectorBackend() : HaarFaceDetectorBackend(Options{}) {}

HaarFaceDetectorBackend::HaarFaceDetectorBackend(Options options)
    : options_(std::move(options)), impl_(std::make_unique<Impl>()) {}

HaarFaceDetectorBackend::~HaarFaceDetectorBackend() = default;

Result<std::vector<NormalizedRect>, std::string> HaarFaceDetectorBackend::detect(const VideoFrame& frame) {
    if (frame.isNull()) {
        return unexpected(std::string("the frame has no picture"));
    }
    try {
        if (!impl_->loadTried) {
            impl_->loadTried = true;
            // Checked first: OpenCV would print its own complaint to stderr.
            std::error_code error;
            impl_->loaded = std::filesystem::is_regular_file(options_.cascadePath, error) &&
                            impl_->cascade.load(options_.cascadePath);
        }
        if (!impl_->loaded) {
            return unexpected("the face model " + options_.cascadePath + " could not be loaded");
        }

        const std::optional<cv::Mat> luma = scaledLuma(frame, options_.maxWidth);
        if (!luma) {
            return unexpected(std::string("the frame's pixel format is not supported"));
        }
        const cv::Mat& gray = *luma;
        std::vector<NormalizedRect> faces;
        if (gray.cols < kCascadeWindow || gray.rows < kCascadeWindow) {
            return faces;
        }
        // The luma goes in as it is: equalising its histogram first raised
        // false faces in textured clothing more than it found real ones.
        const int minFace = std::max(
            kCascadeWindow, static_cast<int>(options_.minFaceFraction * std::min(gray.cols, gray.rows)));
        std::vector<cv::Rect> hits;
        impl_->cascade.detectMultiScale(gray, hits, options_.scaleFactor, options_.minNeighbors, 0,
                                        cv::Size(minFace, minFace));

        const double width = gray.cols;
        const double height = gray.rows;
        faces.reserve(hits.size());
        for (const cv::Rect& hit : hits) {
            // OpenCV's rows run downwards already: no flip, only normalising.
            faces.push_back({hit.x / width, hit.y / height, hit.width / width, hit.height / height});
        }
        return faces;
    } catch (const std::exception& error) {
        return unexpected(std::string(error.what()));
    }
}

}  // namespace hollowkit
