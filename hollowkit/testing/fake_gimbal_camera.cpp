#include "hollowkit/testing/fake_gimbal_camera.h"

#include <algorithm>
#include <utility>

namespace hollowkit {

FakeGimbalCamera::FakeGimbalCamera(CameraPosition start) : position_(start), target_(start) {}

void FakeGimbalCamera::setReportsPosition(bool reports) {
    std::lock_guard lock(mutex_);
    reportsPosition_ = reports;
}

void FakeGimbalCamera::setDegreesPerRead(double degrees) {
    std::lock_guard lock(mutex_);
    degreesPerRead_ = degrees;
}

void FakeGimbalCamera::setZoomRange(std::optional<ZoomRange> range) {
    std::lock_guard lock(mutex_);
    zoomRange_ = range;
}

CameraPosition FakeGimbalCamera::position() const {
    std::lock_guard lock(mutex_);
    return position_;
}

CameraPosition FakeGimbalCamera::target() const {
    std::lock_guard lock(mutex_);
    return target_;
}

void FakeGimbalCamera::setPosition(CameraPosition position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    target_ = position;
}

std::vector<CameraPosition> FakeGimbalCamera::moves() const {
    std::lock_guard lock(mutex_);
    return moves_;
}

size_t FakeGimbalCamera::positionReads() const {
    std::lock_guard lock(mutex_);
    return reads_;
}

void FakeGimbalCamera::setOnPositionRead(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    onPositionRead_ = std::move(hook);
}

void FakeGimbalCamera::setOnMove(std::function<void(const CameraPosition&)> hook) {
    std::lock_guard lock(mutex_);
    onMove_ = std::move(hook);
}

std::optional<ZoomRange> FakeGimbalCamera::zoomRange() const {
    std::lock_guard lock(mutex_);
    return zoomRange_;
}

bool FakeGimbalCamera::supportsPositioning() const {
    std::lock_guard lock(mutex_);
    return reportsPosition_;
}

void FakeGimbalCamera::stop(std::function<void()> completion) {
    if (completion) {
        completion();
    }
}

void FakeGimbalCamera::setZoom(int zoomPercent) {
    std::lock_guard lock(mutex_);
    const int zoom = zoomRange_ ? zoomRange_->clamp(zoomPercent) : zoomPercent;
    position_.zoom = zoom;
    target_.zoom = zoom;
}

std::optional<CameraPosition> FakeGimbalCamera::currentPosition() {
    std::function<void()> hook;
    std::optional<CameraPosition> reported;
    {
        std::lock_guard lock(mutex_);
        ++reads_;
        hook = onPositionRead_;
        if (reportsPosition_) {
            auto approach = [this](double from, double to) {
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
        std::lock_guard lock(mutex_);
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
