#pragma once

// The gimbal's speed and attitude values, the speed payload of the DUML
// gimbal command (04/01), the attitude push decoder (04/05), and
// GimbalCommands: the mailbox through which the main thread steers the
// gimbal while the camera's worker (USB control queue or Wi-Fi video thread)
// executes the requests.

#include <chrono>
#include <optional>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"
#include "hollowkit/base/mutex.h"

namespace hollowkit {

// Pitch (tilt) and yaw (pan) speed in the camera's own units.
struct GimbalVelocity {
    static constexpr int speedLimit = 550;
    // The wire value of speed 0 in the speed payload.
    static constexpr int speedCenter = 1024;
    static const GimbalVelocity zero;

    int pitch = 0;
    int yaw = 0;

    bool operator==(const GimbalVelocity&) const = default;

    bool isZero() const { return pitch == 0 && yaw == 0; }
    // Both axes within -speedLimit...speedLimit.
    GimbalVelocity clamped() const;
};

inline constexpr GimbalVelocity GimbalVelocity::zero{0, 0};

// Degrees.
struct GimbalAttitude {
    double pitch = 0;
    double roll = 0;
    double yaw = 0;

    bool operator==(const GimbalAttitude&) const = default;

    // Decodes an 04/05 push: three signed 16-bit little-endian tenths of a
    // degree (pitch, roll, yaw). Nothing for fewer than 6 bytes.
    static std::optional<GimbalAttitude> fromPayload(ByteView payload);
};

// The 10-byte payload of the gimbal speed command 04/01. Speeds beyond
// +-speedLimit are clamped so they never wrap on the wire.
Bytes gimbalSpeedPayload(int pitch, int yaw);

// GimbalCommands: the newest speed request with the moment its motion began,
// and a pending recentre request. One per camera, made with it. Writers run
// on the main thread, readers on the camera's worker; every member is
// thread-safe and holds the lock only for its few field accesses.
class GimbalCommands {
public:
    // A motion that began this long ago or longer counts as zero for readers
    // (a stuck key or a lost release must not turn the gimbal for ever).
    static constexpr Duration holdLimit = std::chrono::seconds(3);

    // `clock` must outlive the mailbox.
    explicit GimbalCommands(const Clock& clock = Clock::system());
    GimbalCommands(const GimbalCommands&) = delete;
    GimbalCommands& operator=(const GimbalCommands&) = delete;

    // Stores the new speed. A zero speed ends the motion; a non-zero speed
    // after rest starts it now; a change during a motion keeps its start.
    void setVelocity(GimbalVelocity velocity);
    void requestRecenter();

    // Reader: true when a recentre was requested since the last take
    // (however many times); clears the request in the same locked step.
    bool takeRecenterRequest();

    // Reader: the stored speed while its motion is younger than holdLimit,
    // zero otherwise.
    GimbalVelocity currentVelocity() const;

    // The stored speed, whatever its age.
    GimbalVelocity storedVelocity() const;
    std::optional<TimePoint> moveStarted() const;

private:
    const Clock& clock_;
    mutable Mutex lock_;
    GimbalVelocity velocity_ HK_GUARDED_BY(lock_);
    std::optional<TimePoint> moveStarted_ HK_GUARDED_BY(lock_);
    bool recenterRequested_ HK_GUARDED_BY(lock_) = false;
};

}  // namespace hollowkit
