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

#include "hollowkit/base/pocket_log.h"

namespace hollowkit {

namespace {

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

// Checked first: OpenCV would print its own complaint to stderr.
bool loadCascade(cv::CascadeClassifier& cascade, const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && cascade.load(path);
}

// The cascade's hits in `gray`, faces no smaller than `minFaceFraction` of
// the shorter side nor than the cascade's own window (it finds nothing
// smaller).
std::vector<cv::Rect> search(cv::CascadeClassifier& cascade, const cv::Mat& gray, double scaleFactor,
                             int minNeighbors, double minFaceFraction) {
    const cv::Size window = cascade.getOriginalWindowSize();
    std::vector<cv::Rect> hits;
    if (gray.cols < window.width || gray.rows < window.height) {
        return hits;
    }
    const int minSide = static_cast<int>(minFaceFraction * std::min(gray.cols, gray.rows));
    const cv::Size minFace(std::max(window.width, minSide), std::max(window.height, minSide));
    cascade.detectMultiScale(gray, hits, scaleFactor, minNeighbors, 0, minFace);
    return hits;
}

// OpenCV's rows run downwards already: no flip, only normalising.
NormalizedRect normalised(const cv::Rect& hit, const cv::Mat& picture) {
    const double width = picture.cols;
    const double height = picture.rows;
    return {hit.x / width, hit.y / height, hit.width / width, hit.height / height};
}

// True when the two boxes share more than half of the smaller one: a face
// turned only a little away can answer in both directions.
bool sameFace(const cv::Rect& a, const cv::Rect& b) {
    return 2 * (a & b).area() > std::min(a.area(), b.area());
}

}  // namespace

struct HaarFaceDetectorBackend::Impl {
    cv::CascadeClassifier cascade;
    cv::CascadeClassifier profile;
    bool loadTried = false;
    bool loaded = false;
    bool profileLoaded = false;

    // The profile cascade over `gray` and its mirror image, boxes in the
    // picture's own coordinates, the direct pass's first.
    std::vector<NormalizedRect> searchProfiles(const cv::Mat& gray, const Options& options);
};

std::vector<NormalizedRect> HaarFaceDetectorBackend::Impl::searchProfiles(const cv::Mat& gray,
                                                                          const Options& options) {
    cv::Mat small = gray;
    if (options.profileMaxWidth > 0 && gray.cols > options.profileMaxWidth) {
        const int height = std::max(
            1, static_cast<int>(std::lround(static_cast<double>(gray.rows) * options.profileMaxWidth / gray.cols)));
        cv::resize(gray, small, cv::Size(options.profileMaxWidth, height), 0, 0, cv::INTER_AREA);
    }
    const auto pass = [&](const cv::Mat& picture) {
        return search(profile, picture, options.profileScaleFactor, options.profileMinNeighbors,
                      options.minFaceFraction);
    };
    std::vector<cv::Rect> hits = pass(small);
    cv::Mat mirror;
    cv::flip(small, mirror, 1);
    const size_t direct = hits.size();
    for (cv::Rect hit : pass(mirror)) {
        hit.x = small.cols - hit.x - hit.width;
        const bool seen = std::any_of(hits.begin(), hits.begin() + static_cast<std::ptrdiff_t>(direct),
                                      [&](const cv::Rect& other) { return sameFace(hit, other); });
        if (!seen) {
            hits.push_back(hit);
        }
    }
    std::vector<NormalizedRect> faces;
    faces.reserve(hits.size());
    for (const cv::Rect& hit : hits) {
        faces.push_back(normalised(hit, small));
    }
    return faces;
}

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
            impl_->loaded = loadCascade(impl_->cascade, options_.cascadePath);
            if (!options_.profileCascadePath.empty()) {
                impl_->profileLoaded = loadCascade(impl_->profile, options_.profileCascadePath);
                if (!impl_->profileLoaded) {
                    PocketLog::log("Face detection: the profile face model " + options_.profileCascadePath +
                                   " could not be loaded; faces turned away are not found");
                }
            }
        }
        if (!impl_->loaded) {
            return unexpected("the face model " + options_.cascadePath + " could not be loaded");
        }

        const std::optional<cv::Mat> luma = scaledLuma(frame, options_.maxWidth);
        if (!luma) {
            return unexpected(std::string("the frame's pixel format is not supported"));
        }
        const cv::Mat& gray = *luma;
        // The luma goes in as it is: equalising its histogram first raised
        // false faces in textured clothing more than it found real ones.
        const std::vector<cv::Rect> hits =
            search(impl_->cascade, gray, options_.scaleFactor, options_.minNeighbors, options_.minFaceFraction);
        if (hits.empty() && impl_->profileLoaded) {
            return impl_->searchProfiles(gray, options_);
        }
        std::vector<NormalizedRect> faces;
        faces.reserve(hits.size());
        for (const cv::Rect& hit : hits) {
            faces.push_back(normalised(hit, gray));
        }
        return faces;
    } catch (const std::exception& error) {
        return unexpected(std::string(error.what()));
    }
}

}  // namespace hollowkit
