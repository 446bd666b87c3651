#include "hollowkit/imaging/grabcut_segmentation_backend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace hollowkit {

namespace {

int evenAtLeastTwo(double value) {
    const int rounded = static_cast<int>(std::lround(value));
    return std::max(2, rounded - rounded % 2);
}

// The frame brought down to `size` as 8-bit BGR, which GrabCut takes.
// NV12's planes are scaled separately before conversion, so the full-size
// picture is never converted.
bool smallBgr(const VideoFrame& frame, cv::Size size, cv::Mat& bgr) {
    auto* data0 = const_cast<uint8_t*>(frame.planeData(0));
    switch (frame.pixelFormat()) {
    case PixelFormat::bgra: {
        cv::Mat small;
        cv::resize(cv::Mat(frame.height(), frame.width(), CV_8UC4, data0, frame.stride(0)), small, size, 0, 0,
                   cv::INTER_AREA);
        cv::cvtColor(small, bgr, cv::COLOR_BGRA2BGR);
        return true;
    }
    case PixelFormat::nv12: {
        auto* data1 = const_cast<uint8_t*>(frame.planeData(1));
        cv::Mat y;
        cv::Mat uv;
        cv::resize(cv::Mat(frame.height(), frame.width(), CV_8UC1, data0, frame.stride(0)), y, size, 0, 0,
                   cv::INTER_AREA);
        cv::resize(cv::Mat((frame.height() + 1) / 2, (frame.width() + 1) / 2, CV_8UC2, data1, frame.stride(1)), uv,
                   cv::Size(size.width / 2, size.height / 2), 0, 0, cv::INTER_AREA);
        // Colour accuracy hardly matters for telling person from room, so
        // OpenCV's own conversion is good enough here.
        cv::cvtColorTwoPlane(y, uv, bgr, cv::COLOR_YUV2BGR_NV12);
        return true;
    }
    case PixelFormat::none:
        break;
    }
    return false;
}

// A face box's height above it that is hair, and below it that is chin.
constexpr double kHairShare = 0.4;
constexpr double kChinShare = 0.05;

// The head in work pixels: its centre x, top, width and height.
struct FaceSeed {
    double centerX = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    bool known = false;
};

FaceSeed faceSeed(const std::optional<NormalizedRect>& face, cv::Size size) {
    if (face && face->isFinite() && face->width > 0 && face->height > 0 && face->midX() > -0.2 &&
        face->midX() < 1.2 && face->midY() > -0.2 && face->midY() < 1.2) {
        // A detector's box runs from the brows to the chin; the seed's head
        // reaches over the hair, as the guessed one below does.
        const double height = face->height * size.height;
        return {face->midX() * size.width, face->y * size.height - kHairShare * height, face->width * size.width,
                (1 + kHairShare + kChinShare) * height, true};
    }
    // Nobody located: assume one person in the middle, head in the upper
    // third, the way a desk camera frames its user.
    const double height = 0.26 * size.height;
    return {0.5 * size.width, 0.14 * size.height, 0.75 * height, height, false};
}

// GrabCut's starting labels: certain room far from the person, certain
// person at the face's centre and mid chest, a head-and-shoulders outline of
// probable person, and probable room everywhere else.
cv::Mat seedMask(cv::Size size, const FaceSeed& seed) {
    cv::Mat mask(size, CV_8UC1, cv::Scalar(cv::GC_PR_BGD));
    const double cx = seed.centerX;
    const double fw = seed.width;
    const double fh = seed.height;
    const double top = seed.top;
    const int w = size.width;
    const int h = size.height;
    auto pt = [](double x, double y) { return cv::Point(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))); };

    // Certain room: above the head, and beside the shoulders. Without a face
    // the person's place is a guess, so only the outer columns are certain.
    const double aboveHead = top - 0.5 * fh;
    if (aboveHead > 0) {
        cv::rectangle(mask, pt(0, 0), pt(w, aboveHead), cv::Scalar(cv::GC_BGD), cv::FILLED);
    }
    const double sideReach = seed.known ? 2.8 * fw : 0.36 * w;
    if (cx - sideReach > 0) {
        cv::rectangle(mask, pt(0, 0), pt(cx - sideReach, h), cv::Scalar(cv::GC_BGD), cv::FILLED);
    }
    if (cx + sideReach < w) {
        cv::rectangle(mask, pt(cx + sideReach, 0), pt(w, h), cv::Scalar(cv::GC_BGD), cv::FILLED);
    }

    // Probable person: head, neck, shoulders and torso down to the bottom.
    cv::ellipse(mask, pt(cx, top + 0.5 * fh), cv::Size(static_cast<int>(0.62 * fw) + 1, static_cast<int>(0.72 * fh) + 1),
                0, 0, 360, cv::Scalar(cv::GC_PR_FGD), cv::FILLED);
    cv::rectangle(mask, pt(cx - 0.45 * fw, top + 0.8 * fh), pt(cx + 0.45 * fw, top + 1.4 * fh),
                  cv::Scalar(cv::GC_PR_FGD), cv::FILLED);
    const std::vector<cv::Point> torso{pt(cx - 1.0 * fw, top + 1.25 * fh), pt(cx + 1.0 * fw, top + 1.25 * fh),
                                       pt(cx + 1.6 * fw, top + 1.6 * fh), pt(cx + 1.9 * fw, h),
                                       pt(cx - 1.9 * fw, h),              pt(cx - 1.6 * fw, top + 1.6 * fh)};
    cv::fillConvexPoly(mask, torso, cv::Scalar(cv::GC_PR_FGD));

    // Certain person: the middle of the face and of the chest.
    cv::ellipse(mask, pt(cx, top + 0.5 * fh), cv::Size(static_cast<int>(0.3 * fw) + 1, static_cast<int>(0.35 * fh) + 1),
                0, 0, 360, cv::Scalar(cv::GC_FGD), cv::FILLED);
    if (top + 2.0 * fh < h) {
        cv::rectangle(mask, pt(cx - 0.6 * fw, top + 2.0 * fh), pt(cx + 0.6 * fw, h), cv::Scalar(cv::GC_FGD),
                      cv::FILLED);
    }
    return mask;
}

}  // namespace

struct GrabCutSegmentationBackend::Impl {
    cv::Mat backgroundModel;
    cv::Mat foregroundModel;
    cv::Size modelSize;
    int framesSinceLearnt = 0;
};

GrabCutSegmentationBackend::GrabCutSegmentationBackend() : GrabCutSegmentationBackend(Options{}) {}

GrabCutSegmentationBackend::GrabCutSegmentationBackend(Options options)
    : options_(options), impl_(std::make_unique<Impl>()) {}

GrabCutSegmentationBackend::~GrabCutSegmentationBackend() = default;

std::optional<PersonMask> GrabCutSegmentationBackend::segment(const VideoFrame& frame,
                                                              const std::optional<NormalizedRect>& face) {
    if (frame.isNull() || frame.width() < 4 || frame.height() < 4) {
        return std::nullopt;
    }
    const int workWidth = evenAtLeastTwo(std::min(options_.workWidth, frame.width()));
    const cv::Size size(workWidth,
                        evenAtLeastTwo(static_cast<double>(frame.height()) * workWidth / frame.width()));
    try {
        cv::Mat bgr;
        if (!smallBgr(frame, size, bgr)) {
            return std::nullopt;
        }
        cv::Mat labels = seedMask(size, faceSeed(face, size));

        Impl& impl = *impl_;
        const bool relearn = impl.backgroundModel.empty() || impl.modelSize != size ||
                             impl.framesSinceLearnt >= options_.modelRefreshFrames;
        try {
            cv::grabCut(bgr, labels, cv::Rect(), impl.backgroundModel, impl.foregroundModel,
                        std::max(1, options_.iterations), relearn ? cv::GC_INIT_WITH_MASK : cv::GC_EVAL);
        } catch (...) {
            // Models that fail once are not trusted for the next frame.
            impl.backgroundModel.release();
            impl.foregroundModel.release();
            throw;
        }
        impl.modelSize = size;
        impl.framesSinceLearnt = relearn ? 1 : impl.framesSinceLearnt + 1;

        // Person = certain or probable foreground (the labels' low bit).
        cv::Mat person;
        cv::bitwise_and(labels, cv::Scalar(1), person);
        person *= 255;
        // Specks of room that matched the person's colours, and pinholes in
        // the person, are smaller than the opening and closing.
        const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3));
        cv::morphologyEx(person, person, cv::MORPH_OPEN, kernel);
        cv::morphologyEx(person, person, cv::MORPH_CLOSE, kernel);
        // A soft edge, so the scaled-up mask fades instead of stepping.
        cv::GaussianBlur(person, person, cv::Size(0, 0), 0.8);

        PersonMask mask = PersonMask::filled(size.width, size.height, 0);
        for (int y = 0; y < size.height; ++y) {
            std::memcpy(mask.row(y), person.ptr<uint8_t>(y), static_cast<size_t>(size.width));
        }
        return mask;
    } catch (...) {
        // GrabCut refuses seeds without samples of both kinds (a face box at
        // the very edge); the segmenter then falls back to its last mask.
        return std::nullopt;
    }
}

}  // namespace hollowkit
