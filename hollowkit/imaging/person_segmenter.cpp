#include "hollowkit/imaging/person_segmenter.h"

#include <cstring>
#include <utility>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "hollowkit/base/mutex.h"
#include "hollowkit/imaging/grabcut_segmentation_backend.h"

namespace hollowkit {

namespace {

// Below this the picture holds no person worth finding.
constexpr int kSmallestRegion = 2;

}  // namespace

std::optional<PersonMask> scaleMask(const PersonMask& mask, int width, int height) {
    if (!mask.isValid() || width <= 0 || height <= 0) {
        return std::nullopt;
    }
    if (mask.width == width && mask.height == height) {
        return mask;
    }
    PersonMask scaled = PersonMask::filled(width, height, 0);
    try {
        const cv::Mat source(mask.height, mask.width, CV_8UC1, const_cast<uint8_t*>(mask.pixels.data()),
                             static_cast<size_t>(mask.width));
        cv::Mat target(height, width, CV_8UC1, scaled.pixels.data(), static_cast<size_t>(width));
        // Shrinking averages; growing interpolates, which also softens the
        // coarse backend mask's edge.
        const int interpolation = (width < mask.width && height < mask.height) ? cv::INTER_AREA : cv::INTER_LINEAR;
        cv::resize(source, target, target.size(), 0, 0, interpolation);
    } catch (...) {
        return std::nullopt;
    }
    return scaled;
}

PersonSegmenter::PersonSegmenter() : PersonSegmenter(std::make_unique<GrabCutSegmentationBackend>()) {}

PersonSegmenter::PersonSegmenter(std::unique_ptr<SegmentationBackend> backend)
    : backend_(backend ? std::move(backend) : std::make_unique<NullSegmentationBackend>()) {}

PersonSegmenter::~PersonSegmenter() = default;

std::optional<PersonMask> PersonSegmenter::scaledMask(const VideoFrame& image,
                                                      const std::optional<NormalizedRect>& face) {
    if (image.isNull() || image.width() < kSmallestRegion || image.height() < kSmallestRegion) {
        return std::nullopt;
    }
    std::shared_ptr<const PersonMask> found;
    {
        MutexLock guard(lock_);
        found = mask(image, face);
    }
    if (!found) {
        return std::nullopt;
    }
    return scaleMask(*found, image.width(), image.height());
}

std::shared_ptr<const PersonMask> PersonSegmenter::mask(const VideoFrame& image,
                                                        const std::optional<NormalizedRect>& face) {
    std::optional<PersonMask> made = backend_->segment(image, face);
    if (made && made->isValid()) {
        auto shared = std::make_shared<const PersonMask>(std::move(*made));
        lastMask_ = LastMask{image.width(), image.height(), shared};
        return shared;
    }
    // A failed frame reuses the last mask only when it was made for a
    // picture of exactly this size; after a size change it would not line up.
    if (lastMask_ && lastMask_->regionWidth == image.width() && lastMask_->regionHeight == image.height()) {
        return lastMask_->mask;
    }
    return nullptr;
}

}  // namespace hollowkit
