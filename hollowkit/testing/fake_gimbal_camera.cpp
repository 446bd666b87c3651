#include "hollowkit/testing/fake_gimbal_camera.h"

#include <algorithm>
#include <utility>

#include "hollowkit/base/mutex.h"

namespace hollowkit {

FakeGimbalCamera::FakeGimbalCamera(CameraPosition start) : position_(start), target_(start) {}

void FakeGimbalCamera::setReportsPosition(bool reports) {
    MutexLock lock(mutex_);
    reportsPosition_ = reports;
}

void FakeGimbalCamera::setDegreesPerRead(double degrees) {
    MutexLock lock(mutex_);
    degreesPerRead_ = degrees;
}

void FakeGimbalCamera::setZoomRange(std::optional<ZoomRange> range) {
    MutexLock lock(mutex_);
    zoomRange_ = range;
}

CameraPosition FakeGimbalCamera::position() const {
    MutexLock lock(mutex_);
    return position_;
}

CameraPosition FakeGimbalCamera::target() const {
    MutexLock lock(mutex_);
    return target_;
}

void FakeGimbalCamera::setPosition(CameraPosition position) {
    MutexLock lock(mutex_);
    position_ = position;
    target_ = position;
}

std::vector<CameraPosition> FakeGimbalCamera::moves() const {
    MutexLock lock(mutex_);
    return moves_;
}

size_t FakeGimbalCamera::positionReads() const {
    MutexLock lock(mutex_);
    return reads_;
}

void FakeGimbalCamera::setOnPositionRead(std::function<void()> hook) {
    MutexLock lock(mutex_);
    onPositionRead_ = std::move(hook);
}

void FakeGimbalCamera::setOnMove(std::function<void(const CameraPosition&)> hook) {
    MutexLock lock(mutex_);
    onMove_ = std::move(hook);
}

std::optional<ZoomRange> FakeGimbalCamera::zoomRange() const {
    MutexLock lock(mutex_);
    return zoomRange_;
}

bool FakeGimbalCamera::supportsPositioning() const {
    MutexLock lock(mutex_);
    return reportsPosition_;
}

void FakeGimbalCamera::stop(std::function<void()> completion) {
    if (completion) {
        completion();
    }
}

void FakeGimbalCamera::setZoom(int zoomPercent) {
    MutexLock lock(mutex_);
    const int zoom = zoomRange_ ? zoomRange_->clamp(zoomPercent) : zoomPercent;
    position_.zoom = zoom;
    target_.zoom = zoom;
}

std::optional<CameraPosition> FakeGimbalCamera::currentPosition() {
    std::function<void()> hook;
    std::optional<CameraPosition> reported;
    {
        MutexLock lock(mutex_);
        ++reads_;
        hook = onPositionRead_;
        if (reportsPosition_) {
            auto approach = [this](double from, double to) HK_REQUIRES(mutex_) {
                return from + std::clamp(to - from, -degreesPerRead_, degreesPerRead_);
            };
            position_.pan = approach(position_.pan, target_.pan);
            position_.tilt = approach(position_.tilt, target_.tilt);
            reported = position_;
        }
    }
    if (hook) {
        hook();
    }
    return reported;
}

void FakeGimbalCamera::move(const CameraPosition& to) {
    std::function<void(const CameraPosition&)> hook;
    {
        MutexLock lock(mutex_);
        moves_.push_back(to);
        target_.pan = to.pan;
        target_.tilt = to.tilt;
        if (to.zoom) {
            target_.zoom = to.zoom;
            position_.zoom = to.zoom;
        }
        hook = onMove_;
    }
    if (hook) {
        hook(to);
    }
}

}  // namespace hollowkit
