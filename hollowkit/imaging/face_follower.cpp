#include "hollowkit/imaging/face_follower.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <string>

#include "hollowkit/base/mutex.h"
#include "hollowkit/base/queue_labels.h"
#include "hollowkit/camera/pocket_camera.h"

namespace hollowkit {

struct FaceFollower::Core {
    explicit Core(const Clock& clockRef) : clock(clockRef) {}

    void tick(uint64_t run);
    // Starts a new generation: a tick begun before drops its result. Takes
    // sendLock first so a move already decided is handed over before the
    // caller returns; on the follower's queue the tick is the caller.
    void newGeneration(bool onQueue, const std::function<void()>& underLock) HK_EXCLUDES(sendLock, lock);
    void bumpGeneration(const std::function<void()>& underLock) HK_EXCLUDES(lock);

    const Clock& clock;

    // Held by a tick from its last generation check until move() returns,
    // and by newGeneration(): never while the position is read. Taken
    // before `lock`.
    Mutex sendLock;
    mutable Mutex lock;
    std::condition_variable idle;  // signalled when cameraUsers drops
    FollowerTuning tuning HK_GUARDED_BY(lock);
    std::weak_ptr<PocketCamera> camera HK_GUARDED_BY(lock);  // empty while stopped
    bool running HK_GUARDED_BY(lock) = false;
    uint64_t run HK_GUARDED_BY(lock) = 0;                    // bumped by start and stop
    uint64_t generation HK_GUARDED_BY(lock) = 0;             // bumped by start, stop and pause
    int cameraUsers HK_GUARDED_BY(lock) = 0;                 // ticks holding the camera now
    std::optional<NormalizedRect> latestFace HK_GUARDED_BY(lock);
    TimePoint faceTime HK_GUARDED_BY(lock) = kDistantPast;  // when it was handed over
    TimePoint faceSeenAt HK_GUARDED_BY(lock) = kDistantPast;  // when its frame was taken
    // The positions read over the last kPositionMemory, oldest first.
    std::deque<std::pair<TimePoint, CameraPosition>> positions HK_GUARDED_BY(lock);
    TimePoint pausedUntil HK_GUARDED_BY(lock) = kDistantPast;
    std::optional<FollowerState> state HK_GUARDED_BY(lock);
    std::optional<CameraPosition> lastSent HK_GUARDED_BY(lock);
};

namespace {

// Where the camera pointed at `when`, between the two readings around it;
// before the first, the first; after the last, the last. Not empty.
CameraPosition positionAt(const std::deque<std::pair<TimePoint, CameraPosition>>& positions, TimePoint when) {
    if (when <= positions.front().first) return positions.front().second;
    if (when >= positions.back().first) return positions.back().second;
    const auto later = std::find_if(positions.begin(), positions.end(),
                                    [when](const auto& reading) { return reading.first >= when; });
    const auto& [laterTime, laterPosition] = *later;
    const auto& [earlierTime, earlierPosition] = *std::prev(later);
    const double share = std::chrono::duration<double>(when - earlierTime).count() /
                         std::chrono::duration<double>(laterTime - earlierTime).count();
    return {earlierPosition.pan + share * (laterPosition.pan - earlierPosition.pan),
            earlierPosition.tilt + share * (laterPosition.tilt - earlierPosition.tilt), laterPosition.zoom};
}

}  // namespace

void FaceFollower::Core::newGeneration(bool onQueue, const std::function<void()>& underLock) {
    if (onQueue) {
        bumpGeneration(underLock);
        return;
    }
    MutexLock sending(sendLock);
    bumpGeneration(underLock);
}

void FaceFollower::Core::bumpGeneration(const std::function<void()>& underLock) {
    MutexLock guard(lock);
    ++generation;
    underLock();
}

void FaceFollower::Core::tick(uint64_t tickRun) {
    std::shared_ptr<PocketCamera> cam;
    std::optional<NormalizedRect> face;
    TimePoint seenAt;
    FollowerTuning tickTuning;
    uint64_t tickGeneration = 0;
    {
        MutexLock guard(lock);
        if (run != tickRun || !running) {
            return;
        }
        const TimePoint now = clock.now();
        // Stored times are added to rather than subtracted from: the distant
        // past is the smallest time point and would overflow.
        if (latestFace && now <= faceTime + kFaceLifetime) {
            face = latestFace;
            seenAt = faceSeenAt;
        }
        if (now < pausedUntil) {
            return;
        }
        cam = camera.lock();
        if (!cam) {
            return;
        }
        tickTuning = tuning;
        tickGeneration = generation;
        ++cameraUsers;
    }

    // From here on the camera is in use; the destructor waits for this to
    // end. The guard lets go of the camera first: when the owner has dropped
    // it meanwhile, it is destroyed here, before the wait is over.
    struct UseGuard {
        Core& core;
        std::shared_ptr<PocketCamera> camera;
        ~UseGuard() {
            camera.reset();
            {
                MutexLock guard(core.lock);
                --core.cameraUsers;
            }
            core.idle.notify_all();
        }
    } use{*this, std::move(cam)};

    // May block (a USB control transfer); no lock is held.
    const std::optional<CameraPosition> current = use.camera->currentPosition();
    if (!current) {
        return;
    }

    FollowerState previous;
    {
        MutexLock guard(lock);
        // Readings of an older generation came before a pause or a stop,
        // which forgot them; this one would not join them either.
        if (generation == tickGeneration) {
            const TimePoint readAt = clock.now();
            positions.emplace_back(readAt, *current);
            // Bounded by count too: ticks on a clock that stands still.
            constexpr size_t kMostPositions = 2 * (kPositionMemory / kTickInterval);
            while (positions.front().first + kPositionMemory < readAt || positions.size() > kMostPositions) {
                positions.pop_front();
            }
            if (face) {
                face = FaceFollowerMath::seenNow(*face, positionAt(positions, seenAt), *current, tickTuning.geometry);
            }
        }
        previous = state.value_or(FollowerState{*current, std::nullopt, false});
    }
    const FollowerState next = FaceFollowerMath::step(previous, face, *current, kTickSeconds, tickTuning);

    MutexLock sending(sendLock);
    {
        MutexLock guard(lock);
        // A pause or stop that came while the position was read or the law
        // computed wins: this result is stale and must not move the gimbal
        // against the move the pause protects.
        if (generation != tickGeneration || clock.now() < pausedUntil) {
            return;
        }
        state = next;
        if (!next.isMoving) {
            lastSent.reset();
            return;
        }
        if (lastSent && std::abs(lastSent->pan - next.setpoint.pan) < kResendDegrees &&
            std::abs(lastSent->tilt - next.setpoint.tilt) < kResendDegrees) {
            return;  // converged: nothing new to say
        }
        lastSent = next.setpoint;
    }
    // move() only hands the request over and returns; sendLock keeps a
    // pause from slipping in between the check above and the hand-over.
    use.camera->move(next.setpoint);
}

FaceFollower::FaceFollower()
    : ownQueue_(std::make_unique<SerialQueue>(std::string(kFaceFollowerQueue.label))),
      queue_(*ownQueue_),
      core_(std::make_shared<Core>(queue_.clock())) {}

FaceFollower::FaceFollower(Executor& queue) : queue_(queue), core_(std::make_shared<Core>(queue_.clock())) {}

FaceFollower::~FaceFollower() {
    stop();
    // The one wait: a tick still inside a camera call. Ticks hold the core
    // and the camera themselves, so this is for the owner's sake (no camera
    // call of this follower outlives it), not for memory safety.
    if (!queue_.isCurrent()) {
        MutexLock guard(core_->lock);
        guard.wait(core_->idle, [this]() HK_REQUIRES(core_->lock) { return core_->cameraUsers == 0; });
    }
}

void FaceFollower::setTuning(const FollowerTuning& tuning) {
    MutexLock guard(core_->lock);
    core_->tuning = tuning;
}

FollowerTuning FaceFollower::tuning() const {
    MutexLock guard(core_->lock);
    return core_->tuning;
}

void FaceFollower::start(std::weak_ptr<PocketCamera> camera) {
    stop();
    uint64_t run = 0;
    core_->newGeneration(queue_.isCurrent(), [&]() HK_REQUIRES(core_->lock) {
        core_->camera = std::move(camera);
        core_->running = true;
        run = ++core_->run;
    });
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
    core_->newGeneration(queue_.isCurrent(), [this]() HK_REQUIRES(core_->lock) {
        ++core_->run;
        core_->running = false;
        core_->camera.reset();
        core_->state.reset();
        core_->latestFace.reset();
        core_->lastSent.reset();
        core_->positions.clear();
    });
}

void FaceFollower::update(std::optional<NormalizedRect> face, TimePoint seenAt) {
    MutexLock guard(core_->lock);
    core_->latestFace = face;
    if (face) {
        core_->faceTime = core_->clock.now();
        core_->faceSeenAt = seenAt;
    }
}

void FaceFollower::update(std::optional<NormalizedRect> face) { update(face, core_->clock.now()); }

void FaceFollower::pause(double seconds) {
    // Bounded so the time point cannot overflow; NaN pauses for no time.
    constexpr double kLongestPauseSeconds = 24.0 * 3600.0;
    const double bounded = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, kLongestPauseSeconds);
    core_->newGeneration(queue_.isCurrent(), [&]() HK_REQUIRES(core_->lock) {
        core_->pausedUntil = core_->clock.now() + toDuration(bounded);
        core_->state.reset();
        // Someone else turns the gimbal now, where no reading follows it.
        core_->positions.clear();
    });
}

std::optional<FollowerState> FaceFollower::state() const {
    MutexLock guard(core_->lock);
    return core_->state;
}

std::optional<CameraPosition> FaceFollower::lastSent() const {
    MutexLock guard(core_->lock);
    return core_->lastSent;
}

bool FaceFollower::isRunning() const {
    MutexLock guard(core_->lock);
    return core_->running;
}

}  // namespace hollowkit
