#pragma once

// FaceFollower: keeps a face in frame by moving the gimbal. Twenty times a
// second, on its own queue, it reads the camera's position, applies
// FaceFollowerMath::step to the latest face and sends the new absolute pan
// and tilt through the camera's move(to:), zoom unchanged. A camera that
// reports no position (the wireless route) is never moved.
//
// A face comes a detection after its frame, later still on a busy machine,
// and stands for several ticks; the camera may have turned meanwhile. The
// follower remembers the positions it read over the last kPositionMemory
// and moves the face by the turn since its frame (FaceFollowerMath::seenNow)
// before the law sees it. Taken as it was seen, an old face would be chased
// past the target and back again.
//
// Owned by the camera model. start/stop/update/pause come from the owner's
// thread (the main executor); ticks run on the follower's queue. One lock
// guards the face, the times, the state and the last position sent; it is
// never held while the camera is asked or told anything.
//
// The camera is held weakly, as the owner's shared pointer; a tick holds it
// only while it runs, so the owner may drop the camera at any time and the
// last reference may then go on the follower's queue. stop() and pause()
// never wait for a tick: a position read can block on the USB bus while the
// main thread calls pause() on every arrow press. Instead each of them
// starts a new generation, and a tick that began in an older one drops its
// result. They only serialise with a move() being handed to the camera,
// which returns at once, so no move decided before they were called is
// handed over after they return. Only the destructor waits for a tick.

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
    // How far back the positions read are kept; a face seen earlier counts
    // as seen from the oldest of them.
    static constexpr Duration kPositionMemory = std::chrono::seconds(2);

    // Ticks on a queue of its own, "HollowKit.FaceFollower", on the system clock.
    FaceFollower();
    // Ticks on `queue` and reads time from its clock (tests pass a
    // ManualExecutor). The queue must outlive the follower.
    explicit FaceFollower(Executor& queue);
    // Stops, then waits for a tick under way (unless called on the queue).
    ~FaceFollower();
    FaceFollower(const FaceFollower&) = delete;
    FaceFollower& operator=(const FaceFollower&) = delete;

    // Set while stopped; ticks read a copy. Main executor only.
    void setTuning(const FollowerTuning& tuning);
    FollowerTuning tuning() const;

    // Stops any previous run, then ticks at once and every 0.05 s, steering
    // `camera` for as long as it exists. Main executor only.
    void start(std::weak_ptr<PocketCamera> camera);
    // Ends the ticks and forgets the camera, state, face, positions read and
    // last position sent; the pause time and the face time stay. Returns without waiting
    // for a tick under way, whose result is then dropped. Main executor
    // only (also safe from the follower's queue).
    void stop();
    // The face to follow (normalised, top-left) as found in the frame of
    // time `seenAt` (the follower's clock); nothing = no face now. Its age
    // for kFaceLifetime counts from this call. Any thread.
    void update(std::optional<NormalizedRect> face, TimePoint seenAt);
    // The same, in a frame of now.
    void update(std::optional<NormalizedRect> face);
    // No reading and no moving for `seconds`; the state and the positions
    // read are forgotten so the follower starts afresh from the camera's
    // real position afterwards.
    // Returns without waiting for a tick under way, whose result is then
    // dropped. Main executor only (also safe from the follower's queue).
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
