#include "hollowkit/camera/gimbal_commands.h"

#include <algorithm>
#include <utility>

namespace hollowkit {
namespace {

constexpr size_t kAttitudeLength = 6;
constexpr double kTenthsPerDegree = 10.0;

int clampSpeed(int speed) {
    return std::clamp(speed, -GimbalVelocity::speedLimit, GimbalVelocity::speedLimit);
}

}  // namespace

GimbalVelocity GimbalVelocity::clamped() const {
    return {clampSpeed(pitch), clampSpeed(yaw)};
}

std::optional<GimbalAttitude> GimbalAttitude::fromPayload(ByteView payload) {
    if (payload.size() < kAttitudeLength) {
        return std::nullopt;
    }
    const auto tenths = [&](size_t offset) {
        return static_cast<int16_t>(uint16LE(payload, offset)) / kTenthsPerDegree;
    };
    return GimbalAttitude{tenths(0), tenths(2), tenths(4)};
}

Bytes gimbalSpeedPayload(int pitch, int yaw) {
    const auto wire = [](int speed) {
        return static_cast<uint16_t>(clampSpeed(speed) + GimbalVelocity::speedCenter);
    };
    ByteWriter writer;
    writer.u16(wire(pitch)).u16(0).u16(wire(yaw)).u8(0x00).u8(0x80).u8(0x22).u8(0x00);
    return std::move(writer).take();
}

GimbalCommands::GimbalCommands(const Clock& clock) : clock_(clock) {}

void GimbalCommands::setVelocity(GimbalVelocity velocity) {
    const TimePoint now = clock_.now();
    MutexLock guard(lock_);
    if (velocity.isZero()) {
        moveStarted_.reset();
    } else if (velocity_.isZero()) {
        moveStarted_ = now;
    }
    velocity_ = velocity;
}

void GimbalCommands::requestRecenter() {
    MutexLock guard(lock_);
    recenterRequested_ = true;
}

bool GimbalCommands::takeRecenterRequest() {
    MutexLock guard(lock_);
    return std::exchange(recenterRequested_, false);
}

GimbalVelocity GimbalCommands::currentVelocity() const {
    GimbalVelocity velocity;
    std::optional<TimePoint> started;
    {
        MutexLock guard(lock_);
        velocity = velocity_;
        started = moveStarted_;
    }
    if (!started || clock_.now() - *started >= holdLimit) {
        return GimbalVelocity::zero;
    }
    return velocity;
}

GimbalVelocity GimbalCommands::storedVelocity() const {
    MutexLock guard(lock_);
    return velocity_;
}

std::optional<TimePoint> GimbalCommands::moveStarted() const {
    MutexLock guard(lock_);
    return moveStarted_;
}

}  // namespace hollowkit
