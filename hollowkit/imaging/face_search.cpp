#include "hollowkit/imaging/face_search.h"

#include <utility>

#include "hollowkit/base/pocket_log.h"
#include "hollowkit/imaging/haar_face_detector_backend.h"

namespace hollowkit {

FaceSearch::FaceSearch(std::unique_ptr<FaceDetectorBackend> backend) : FaceSearch(std::move(backend), Options{}) {}

FaceSearch::FaceSearch(std::unique_ptr<FaceDetectorBackend> backend, Options options)
    : backend_(backend ? std::move(backend) : std::make_unique<HaarFaceDetectorBackend>()), options_(options) {}

FaceSearch::~FaceSearch() = default;

bool FaceSearch::due(double seconds) const {
    if (!lastSearch_) return true;
    return seconds < *lastSearch_ || seconds - *lastSearch_ >= options_.interval;
}

void FaceSearch::search(const VideoFrame& picture, double seconds) {
    lastSearch_ = seconds;
    const Result<std::vector<NormalizedRect>, std::string> found = backend_->detect(picture);
    if (!found && !failureLogged_) {
        failureLogged_ = true;
        PocketLog::log("Face search failed: " + found.error());
    }
    const NormalizedRect* largest = nullptr;
    if (found) {
        for (const NormalizedRect& face : found.value()) {
            if (face.isFinite() && (largest == nullptr || face.area() > largest->area())) largest = &face;
        }
    }
    if (largest != nullptr) {
        face_ = *largest;
        lastSeen_ = seconds;
    } else if (face_ && !(seconds >= lastSeen_ && seconds - lastSeen_ <= options_.linger)) {
        face_.reset();
    }
}

void FaceSearch::forget() {
    face_.reset();
    lastSearch_.reset();
}

}  // namespace hollowkit
