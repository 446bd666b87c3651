#include "hollowkit/testing/fake_segmentation_backend.h"

#include <cmath>
#include <utility>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

void FakeSegmentationBackend::setResult(std::optional<PersonMask> mask) {
    MutexLock lock(mutex_);
    result_ = std::move(mask);
}

PersonMask FakeSegmentationBackend::rectangleMask(int width, int height, const NormalizedRect& person) {
    PersonMask mask = PersonMask::filled(width, height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double nx = (x + 0.5) / width;
            const double ny = (y + 0.5) / height;
            if (nx >= person.x && nx < person.maxX() && ny >= person.y && ny < person.maxY()) {
                mask.row(y)[x] = 255;
            }
        }
    }
    return mask;
}

void FakeSegmentationBackend::closeGate() {
    MutexLock lock(mutex_);
    gateClosed_ = true;
}

void FakeSegmentationBackend::openGate() {
    {
        MutexLock lock(mutex_);
        gateClosed_ = false;
    }
    changed_.notify_all();
}

bool FakeSegmentationBackend::waitForCalls(size_t count, std::chrono::milliseconds timeout) {
    MutexLock lock(mutex_);
    return lock.waitFor(changed_, timeout, [&]() HK_REQUIRES(mutex_) { return sizes_.size() >= count; });
}

size_t FakeSegmentationBackend::callCount() const {
    MutexLock lock(mutex_);
    return sizes_.size();
}

std::vector<std::pair<int, int>> FakeSegmentationBackend::frameSizes() const {
    MutexLock lock(mutex_);
    return sizes_;
}

std::vector<std::optional<NormalizedRect>> FakeSegmentationBackend::faces() const {
    MutexLock lock(mutex_);
    return faces_;
}

std::vector<TimePoint> FakeSegmentationBackend::framePts() const {
    MutexLock lock(mutex_);
    return pts_;
}

std::optional<PersonMask> FakeSegmentationBackend::segment(const VideoFrame& frame,
                                                           const std::optional<NormalizedRect>& face) {
    MutexLock lock(mutex_);
    sizes_.emplace_back(frame.width(), frame.height());
    faces_.push_back(face);
    pts_.push_back(frame.pts());
    changed_.notify_all();
    lock.wait(changed_, [&]() HK_REQUIRES(mutex_) { return !gateClosed_; });
    return result_;
}

}  // namespace hollowkit
