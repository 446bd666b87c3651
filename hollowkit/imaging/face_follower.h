#pragma once

// FaceFollower: keeps a face in frame by moving the gimbal. Twenty times a
// second, on its own queue, it reads the camera's position, applies
// FaceFollowerMath::step to the latest face and sends the new absolute pan
// and tilt through the camera's move(to:), zoom unchanged. A camera that
// reports no position (the wireless route) is never moved.
//
// Owned by the camera model. start/stop/update/pause come from the owner's
// thread (the main executor); ticks run on the follower's queue. One lock
// guards the face, the times, the state and the last position sent; it is
// never held while the camera is asked or told anything.
//
// The camera is borrowed: stop() (and the destructor) return only once no
// tick is using it any more, so the owner may destroy the camera right after.
// No move leaves after pause() or stop() has returned: a tick that was
// already computing when they were called discards its result.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "hollowkit/base/executor.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/camera/camera_types.h"
#include "hollowkit/imaging/face_follower_math.h"
#include "hollowkit/imaging/framing_geometry.h"
#include "hollowkit/imaging/normalized_rect.h"

namespace hollowkit {

class PocketCamera;

class FaceFollower {
public:
    static constexpr Duration kTickInterval = std::chrono::milliseconds(50);
    // The law's time step: the timer period, not a measured interval.
    static constexpr double kTickSeconds = std::chrono::duration<double>(kTickInterval).count();
    // A face older than this counts as no face.
    static constexpr Duration kFaceLifetime = std::chrono::milliseconds(600);
    // On both axes closer than this to the last position sent: not sent again.
    static constexpr double kResendDegrees = 0.05;

    // Ticks on a queue of its own, "HollowKit.FaceFollower", on the system clock.
    FaceFollower();
    // Ticks on `queue` and reads time from its clock (tests pass a
    // ManualExecutor). The queue must outlive the follower.
    explicit FaceFollower(Executor& queue);
    ~FaceFollower();
    FaceFollower(const FaceFollower&) = delete;
    FaceFollower& operator=(const FaceFollower&) = delete;

    // Set while stopped; ticks read a copy. Owner's thread.
    void setTuning(const FollowerTuning& tuning);
    FollowerTuning tuning() const;

    // Stops any previous run, then ticks at once and every 0.05 s, steering
    // `camera`, which must stay alive until stop() returns. Owner's thread.
    void start(PocketCamera& camera);
    // Ends the ticks and forgets state, face and last position sent; waits
    // for a tick that is using the camera. The pause time and the face time
    // stay. Owner's thread (safe from the follower's queue too, without
    // the wait).
    void stop();
    // The face to follow (normalised, top-left); nothing = no face now. Any
    // thread.
    void update(std::optional<NormalizedRect> face);
    // No reading and no moving for `seconds`; the state is forgotten so the
    // follower starts afresh from the camera's real position afterwards.
    // Returns once no move of this follower is in flight. Owner's thread.
    void pause(double seconds);

    // Inspection (tests, diagnostics). Any thread.
    std::optional<FollowerState> state() const;
    std::optional<CameraPosition> lastSent() const;
    bool isRunning() const;

private:
    struct Core;

    std::unique_ptr<SerialQueue> ownQueue_;  // first: outlives the core's tasks
    Executor& queue_;
    std::shared_ptr<Core> core_;  // ticks hold it weakly
    // Set by start() on the owner's thread; taken by stop(), which may also
    // run on the follower's queue.
    std::atomic<TaskId> timer_{0};
};

}  // namespace hollowkit
