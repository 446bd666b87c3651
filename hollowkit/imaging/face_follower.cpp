#include "hollowkit/imaging/face_follower.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>

#include "hollowkit/base/queue_labels.h"
#include "hollowkit/camera/pocket_camera.h"

namespace hollowkit {

struct FaceFollower::Core {
    explicit Core(const Clock& clockRef) : clock(clockRef) {}

    void tick(uint64_t run);

    const Clock& clock;

    mutable std::mutex lock;
    std::condition_variable idle;            // signalled when cameraUsers or sending drop
    FollowerTuning tuning;                   // guarded by lock
    PocketCamera* camera = nullptr;          // guarded by lock; null while stopped
    uint64_t run = 0;                        // guarded by lock; bumped by start and stop
    uint64_t resets = 0;                     // guarded by lock; bumped by start, stop and pause
    int cameraUsers = 0;                     // guarded by lock; ticks calling the camera now
    bool sending = false;                    // guarded by lock; a move() under way
    std::optional<NormalizedRect> latestFace;  // guarded by lock
    TimePoint faceTime = kDistantPast;         // guarded by lock
    TimePoint pausedUntil = kDistantPast;      // guarded by lock
    std::optional<FollowerState> state;        // guarded by lock
    std::optional<CameraPosition> lastSent;    // guarded by lock
};

void FaceFollower::Core::tick(uint64_t tickRun) {
    PocketCamera* cam = nullptr;
    std::optional<NormalizedRect> face;
    FollowerTuning tickTuning;
    uint64_t tickResets = 0;
    {
        std::lock_guard guard(lock);
        if (run != tickRun || camera == nullptr) {
            return;
        }
        const TimePoint now = clock.now();
        // Stored times are added to rather than subtracted from: the distant
        // past is the smallest time point and would overflow.
        if (latestFace && now <= faceTime + kFaceLifetime) {
            face = latestFace;
        }
        if (now < pausedUntil) {
            return;
        }
        cam = camera;
        tickTuning = tuning;
        tickResets = resets;
        ++cameraUsers;
    }

    // From here on the camera is in use; stop() waits for this to end.
    struct UseGuard {
        Core& core;
        ~UseGuard() {
            {
                std::lock_guard guard(core.lock);
                --core.cameraUsers;
            }
            core.idle.notify_all();
        }
    } useGuard{*this};

    const std::optional<CameraPosition> current = cam->currentPosition();
    if (!current) {
        return;
    }

    FollowerState previous;
    {
        std::lock_guard guard(lock);
        previous = state.value_or(FollowerState{*current, std::nullopt, false});
    }
    const FollowerState next = FaceFollowerMath::step(previous, face, *current, kTickSeconds, tickTuning);

    bool send = false;
    {
        std::lock_guard guard(lock);
        // A pause or stop that came while the position was read or the law
        // computed wins: this result is stale and must not move the gimbal
        // against the move the pause protects.
        if (run != tickRun || resets != tickResets || clock.now() < pausedUntil) {
            return;
        }
        state = next;
        if (!next.isMoving) {
            lastSent.reset();
        } else if (lastSent && std::abs(lastSent->pan - next.setpoint.pan) < kResendDegrees &&
                   std::abs(lastSent->tilt - next.setpoint.tilt) < kResendDegrees) {
            // Converged: nothing new to say.
        } else {
            lastSent = next.setpoint;
            send = true;
            sending = true;
        }
    }
    if (send) {
        cam->move(next.setpoint);
        {
            std::lock_guard guard(lock);
            sending = false;
        }
        idle.notify_all();
    }
}

FaceFollower::FaceFollower()
    : ownQueue_(std::make_unique<SerialQueue>(std::string(kFaceFollowerQueue.label))),
      queue_(*ownQueue_),
      core_(std::make_shared<Core>(queue_.clock())) {}

FaceFollower::FaceFollower(Executor& queue) : queue_(queue), core_(std::make_shared<Core>(queue_.clock())) {}

FaceFollower::~FaceFollower() { stop(); }

void FaceFollower::setTuning(const FollowerTuning& tuning) {
    std::lock_guard guard(core_->lock);
    core_->tuning = tuning;
}

FollowerTuning FaceFollower::tuning() const {
    std::lock_guard guard(core_->lock);
    return core_->tuning;
}

void FaceFollower::start(PocketCamera& camera) {
    stop();
    uint64_t run = 0;
    {
        std::lock_guard guard(core_->lock);
        core_->camera = &camera;
        run = ++core_->run;
        ++core_->resets;
    }
    std::weak_ptr<Core> weak = core_;
    auto tick = [weak, run] {
        if (auto core = weak.lock()) {
            core->tick(run);
        }
    };
    timer_.store(queue_.every(kTickInterval, tick));
    // The first tick runs at once, not one period later.
    queue_.post(tick);
}

void FaceFollower::stop() {
    if (const TaskId timer = timer_.exchange(0); timer != 0) {
        queue_.cancel(timer);
    }
    std::unique_lock guard(core_->lock);
    ++core_->run;
    ++core_->resets;
    core_->camera = nullptr;
    core_->state.reset();
    core_->latestFace.reset();
    core_->lastSent.reset();
    // On the queue itself no tick can be running beside us.
    if (!queue_.isCurrent()) {
        core_->idle.wait(guard, [this] { return core_->cameraUsers == 0; });
    }
}

void FaceFollower::update(std::optional<NormalizedRect> face) {
    std::lock_guard guard(core_->lock);
    core_->latestFace = face;
    if (face) {
        core_->faceTime = core_->clock.now();
    }
}

void FaceFollower::pause(double seconds) {
    // Bounded so the time point cannot overflow; NaN pauses for no time.
    constexpr double kLongestPauseSeconds = 24.0 * 3600.0;
    const double bounded = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, kLongestPauseSeconds);
    std::unique_lock guard(core_->lock);
    core_->pausedUntil = core_->clock.now() + toDuration(bounded);
    core_->state.reset();
    ++core_->resets;
    if (!queue_.isCurrent()) {
        core_->idle.wait(guard, [this] { return !core_->sending; });
    }
}

std::optional<FollowerState> FaceFollower::state() const {
    std::lock_guard guard(core_->lock);
    return core_->state;
}

std::optional<CameraPosition> FaceFollower::lastSent() const {
    std::lock_guard guard(core_->lock);
    return core_->lastSent;
}

bool FaceFollower::isRunning() const {
    std::lock_guard guard(core_->lock);
    return core_->camera != nullptr;
}

}  // namespace hollowkit
