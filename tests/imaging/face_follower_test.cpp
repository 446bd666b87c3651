#include "hollowkit/imaging/face_follower.h"

#include <cmath>
#include <condition_variable>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/base/serial_queue.h"
#include "hollowkit/testing/fake_gimbal_camera.h"
#include "hollowkit/testing/manual_executor.h"

namespace hollowkit {
namespace {

// A small face box centred at (x, y).
NormalizedRect faceCenteredAt(double x, double y) { return {x - 0.05, y - 0.05, 0.1, 0.1}; }

const FollowerTuning kTuning;
constexpr double kDt = 0.05;

FollowerState resting(CameraPosition at = {}) { return {at, std::nullopt, false}; }

// --- The control law.

TEST(FaceFollowerMathTest, HysteresisBetweenStartingAndStopping) {
    struct Case {
        const char* name;
        bool wasMoving;
        NormalizedPoint center;
        bool moves;
    };
    const Case cases[] = {
        {"resting, error 0.03", false, {0.53, 0.40}, false},
        {"resting, error 0.07", false, {0.57, 0.38}, true},
        {"moving, error 0.03", true, {0.53, 0.38}, true},
        {"moving, error 0.015", true, {0.5, 0.395}, false},
        {"resting, error exactly at the threshold", false, {0.5, 0.32}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The previous smoothed value equals the centre, so smoothing holds it.
        const FollowerState previous{{}, c.center, c.wasMoving};
        const FollowerState next =
            FaceFollowerMath::step(previous, faceCenteredAt(c.center.x, c.center.y), {}, kDt, kTuning);
        EXPECT_EQ(next.isMoving, c.moves);
    }
}

TEST(FaceFollowerMathTest, FirstFaceIsTakenAsItIsLaterOnesAreSmoothed) {
    const FollowerState first = FaceFollowerMath::step(resting(), faceCenteredAt(0.7, 0.2), {}, kDt, kTuning);
    ASSERT_TRUE(first.smoothedFace);
    EXPECT_NEAR(first.smoothedFace->x, 0.7, 1e-12);
    EXPECT_NEAR(first.smoothedFace->y, 0.2, 1e-12);

    // 35 % of the way towards the new centre, also while resting.
    const FollowerState restingWithFace{{}, NormalizedPoint{0.5, 0.38}, false};
    const FollowerState next = FaceFollowerMath::step(restingWithFace, faceCenteredAt(0.6, 0.48), {}, kDt, kTuning);
    EXPECT_NEAR(next.smoothedFace->x, 0.535, 1e-12);
    EXPECT_NEAR(next.smoothedFace->y, 0.415, 1e-12);
    EXPECT_FALSE(next.isMoving);
}

TEST(FaceFollowerMathTest, StepIsAShareOfTheDistanceAndRateLimited) {
    // errX 0.1 → 7 degrees to go: a = 2.6 × 0.05 = 0.13 of it.
    const FollowerState near = FaceFollowerMath::step(resting({10, 5, 100}), faceCenteredAt(0.6, 0.38),
                                                      {10, 5, 100}, kDt, kTuning);
    EXPECT_TRUE(near.isMoving);
    EXPECT_NEAR(near.setpoint.pan, 10 + 0.13 * 7.0, 1e-9);
    EXPECT_NEAR(near.setpoint.tilt, 5, 1e-9);
    EXPECT_EQ(near.setpoint.zoom, std::nullopt);

    // A target 31.5 degrees right and 15 up: at most 2.25 degrees per tick
    // on each axis.
    FollowerState state = resting();
    const NormalizedRect farFace = faceCenteredAt(0.95, 0.0);
    for (int tick = 0; tick < 5; ++tick) {
        const FollowerState next = FaceFollowerMath::step(state, farFace, {0, 0, 100}, kDt, kTuning);
        EXPECT_NEAR(next.setpoint.pan - state.setpoint.pan, 2.25, 1e-9);
        EXPECT_GT(next.setpoint.tilt - state.setpoint.tilt, 0.0);
        EXPECT_LE(next.setpoint.tilt - state.setpoint.tilt, 2.25);
        state = next;
    }
}

TEST(FaceFollowerMathTest, ZoomNarrowsTheAngleOfTheSameError) {
    auto panStep = [](std::optional<int> zoom) {
        return FaceFollowerMath::step(resting(), faceCenteredAt(0.6, 0.38), {0, 0, zoom}, kDt, kTuning).setpoint.pan;
    };
    EXPECT_NEAR(panStep(200), panStep(100) / 2, 1e-12);
    EXPECT_DOUBLE_EQ(panStep(50), panStep(100));
    EXPECT_DOUBLE_EQ(panStep(std::nullopt), panStep(100));
}

TEST(FaceFollowerMathTest, NoFaceOrABrokenOneRestsAtTheCurrentPosition) {
    const CameraPosition current{3, 4, 150};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const FollowerState moving{{1, 1, {}}, NormalizedPoint{0.6, 0.4}, true};
    EXPECT_EQ(FaceFollowerMath::step(moving, std::nullopt, current, kDt, kTuning), resting(current));
    EXPECT_EQ(FaceFollowerMath::step(moving, NormalizedRect{nan, 0.4, 0.1, 0.1}, current, kDt, kTuning),
              resting(current));
    // A broken reported angle must never turn into a NaN move.
    EXPECT_FALSE(FaceFollowerMath::step(moving, faceCenteredAt(0.9, 0.9), {nan, 0, 100}, kDt, kTuning).isMoving);
}

TEST(FaceFollowerMathTest, AFaceSeenEarlierMovesAgainstTheTurnSince) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double vertical = kDefaultFramingGeometry.verticalFieldOfView();
    struct Case {
        const char* name;
        CameraPosition seenFrom;
        CameraPosition current;
        NormalizedPoint centre;  // where the face at (0.6, 0.4) is now
    };
    const Case cases[] = {
        {"no turn", {5, 5, 100}, {5, 5, 100}, {0.6, 0.4}},
        {"7 degrees right", {0, 0, 100}, {7, 0, 100}, {0.5, 0.4}},
        {"7 degrees left at 2x", {0, 0, 200}, {-7, 0, 200}, {0.8, 0.4}},
        {"tilted up by a tenth of the field", {0, 0, 100}, {0, vertical / 10, 100}, {0.6, 0.5}},
        {"a broken angle", {0, 0, 100}, {nan, 3, 100}, {0.6, 0.4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NormalizedRect now =
            FaceFollowerMath::seenNow(faceCenteredAt(0.6, 0.4), c.seenFrom, c.current, kDefaultFramingGeometry);
        EXPECT_NEAR(now.midX(), c.centre.x, 1e-12);
        EXPECT_NEAR(now.midY(), c.centre.y, 1e-12);
        EXPECT_NEAR(now.width, 0.1, 1e-12);
    }
}

// --- The follower on virtual time.

class FaceFollowerTest : public ::testing::Test {
protected:
    void tick(int count = 1) { queue_.advance(FaceFollower::kTickInterval * count); }

    // The face as the camera would see it when the face sits at the given
    // angles in the room.
    NormalizedRect faceSeenFrom(const CameraPosition& camera, double facePan, double faceTilt) const {
        const FramingGeometry g = kDefaultFramingGeometry;
        const double x = 0.5 + (facePan - camera.pan) / g.horizontalFieldOfView;
        const double y = 0.5 - (faceTilt - camera.tilt) / g.verticalFieldOfView();
        return faceCenteredAt(x, y);
    }

    ManualExecutor queue_;
    std::shared_ptr<FakeGimbalCamera> camera_ = std::make_shared<FakeGimbalCamera>();
    FaceFollower follower_{queue_};
};

TEST_F(FaceFollowerTest, SteersTheCameraTowardTheFaceAndSettles) {
    camera_->setPosition({0, 0, 100});
    follower_.start(camera_);
    // The face sits 12 degrees right and 4 degrees down in the room.
    for (int tick = 0; tick < 120; ++tick) {
        follower_.update(faceSeenFrom(camera_->position(), 12.0, -4.0));
        this->tick();
    }
    const NormalizedRect seen = faceSeenFrom(camera_->position(), 12.0, -4.0);
    EXPECT_NEAR(seen.midX(), 0.5, 0.02);
    EXPECT_NEAR(seen.midY(), 0.38, 0.02);
    ASSERT_TRUE(follower_.state());
    EXPECT_FALSE(follower_.state()->isMoving);
    EXPECT_EQ(follower_.lastSent(), std::nullopt);

    // Settled: further ticks send nothing.
    const size_t moves = camera_->moves().size();
    EXPECT_GT(moves, 5U);
    for (int tick = 0; tick < 20; ++tick) {
        follower_.update(faceSeenFrom(camera_->position(), 12.0, -4.0));
        this->tick();
    }
    EXPECT_EQ(camera_->moves().size(), moves);
    for (const CameraPosition& move : camera_->moves()) {
        EXPECT_EQ(move.zoom, std::nullopt);  // the follower never zooms
    }
}

TEST_F(FaceFollowerTest, LateFacesAreTakenAsSeenFromWhereTheirFrameWasTaken) {
    // On a busy machine a detection ends well after its frame was taken and
    // the next one starts later still; each face then stands for many ticks
    // while the camera turns. The face sits 12 degrees right and 4 down in
    // the room; the target puts it at pan 12 and 0.12 of the picture above
    // the face (tilt -4 - 0.12 × the vertical field).
    struct Case {
        const char* name;
        int frameEvery;  // ticks between frames that are detected
        int lateBy;      // ticks from a frame to its face
    };
    const Case cases[] = {
        {"a face every tick, at once", 1, 0},
        {"a face every 0.35 s, 0.4 s late", 7, 8},
        {"a face every 0.5 s, 0.55 s late", 10, 11},
    };
    const double settledTilt = -4.0 - 0.12 * kDefaultFramingGeometry.verticalFieldOfView();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        camera_->setPosition({0, 0, 100});
        follower_.start(camera_);
        struct Seen {
            NormalizedRect face;
            TimePoint takenAt;
            int dueTick;
        };
        std::vector<Seen> inFlight;
        double furthestPan = 0;
        size_t movesBeforeTheLastTwoSeconds = 0;
        constexpr int kTicks = 200;
        for (int tick = 0; tick < kTicks; ++tick) {
            if (tick % c.frameEvery == 0) {
                inFlight.push_back({faceSeenFrom(camera_->position(), 12.0, -4.0), queue_.clock().now(),
                                    tick + c.lateBy});
            }
            std::erase_if(inFlight, [&](const Seen& seen) {
                if (seen.dueTick != tick) return false;
                follower_.update(seen.face, seen.takenAt);
                return true;
            });
            if (tick == kTicks - 40) movesBeforeTheLastTwoSeconds = camera_->moves().size();
            this->tick();
            furthestPan = std::max(furthestPan, camera_->position().pan);
        }
        EXPECT_LT(furthestPan, 12.0 + 1.0) << "turned past the face and back";
        EXPECT_NEAR(camera_->position().pan, 12.0, 1.5);
        EXPECT_NEAR(camera_->position().tilt, settledTilt, 1.5);
        EXPECT_EQ(camera_->moves().size(), movesBeforeTheLastTwoSeconds) << "still hunting after eight seconds";
        follower_.stop();
    }
}

TEST_F(FaceFollowerTest, FirstTickRunsAtOnce) {
    follower_.start(camera_);
    queue_.runUntilIdle();
    EXPECT_EQ(camera_->positionReads(), 1U);
    tick();
    EXPECT_EQ(camera_->positionReads(), 2U);
}

TEST_F(FaceFollowerTest, NearlyEqualSetpointsAreNotSentAgain) {
    // A gimbal that does not move: the setpoint creeps towards the target in
    // shrinking steps; once they are below 0.05 degrees they are not all
    // sent, though the state still advances.
    camera_->setDegreesPerRead(0);
    follower_.start(camera_);
    std::optional<FollowerState> previous;
    int quietChanges = 0;
    for (int tick = 0; tick < 60; ++tick) {
        const size_t movesBefore = camera_->moves().size();
        follower_.update(faceCenteredAt(0.6, 0.38));
        this->tick();
        const std::optional<FollowerState> state = follower_.state();
        ASSERT_TRUE(state);
        if (previous && state->setpoint != previous->setpoint && camera_->moves().size() == movesBefore) {
            ++quietChanges;
        }
        previous = state;
    }
    EXPECT_GT(quietChanges, 10);
    const std::vector<CameraPosition> moves = camera_->moves();
    ASSERT_GE(moves.size(), 2U);
    EXPECT_NEAR(previous->setpoint.pan, 7.0, 0.01);
    EXPECT_LT(std::abs(previous->setpoint.pan - moves.back().pan), FaceFollower::kResendDegrees);
    for (size_t i = 1; i < moves.size(); ++i) {
        EXPECT_GE(std::abs(moves[i].pan - moves[i - 1].pan), FaceFollower::kResendDegrees);
    }
}

TEST_F(FaceFollowerTest, AStaleFaceStopsTheMotion) {
    camera_->setDegreesPerRead(0);
    follower_.start(camera_);
    follower_.update(faceCenteredAt(0.8, 0.38));
    tick(2);
    ASSERT_TRUE(follower_.state()->isMoving);
    ASSERT_TRUE(follower_.lastSent());
    // No update for 0.7 s: the face no longer counts.
    queue_.advanceSeconds(0.7);
    EXPECT_FALSE(follower_.state()->isMoving);
    EXPECT_EQ(follower_.lastSent(), std::nullopt);
    // A nil update does not refresh the face time.
    follower_.update(std::nullopt);
    tick();
    EXPECT_FALSE(follower_.state()->isMoving);
}

TEST_F(FaceFollowerTest, PauseNeitherReadsNorMovesAndRestartsFromTheRealPosition) {
    follower_.start(camera_);
    follower_.update(faceCenteredAt(0.8, 0.38));
    tick(3);
    ASSERT_TRUE(follower_.state());
    const size_t reads = camera_->positionReads();
    const size_t moves = camera_->moves().size();

    follower_.pause(1.0);
    EXPECT_EQ(follower_.state(), std::nullopt);
    for (int tick = 0; tick < 19; ++tick) {
        follower_.update(faceCenteredAt(0.8, 0.38));
        this->tick();
    }
    EXPECT_EQ(camera_->positionReads(), reads);
    EXPECT_EQ(camera_->moves().size(), moves);

    // Someone else turned the gimbal meanwhile; the follower starts from there.
    camera_->setPosition({-20, 3, 100});
    follower_.update(faceCenteredAt(0.8, 0.38));
    tick(2);
    EXPECT_GT(camera_->positionReads(), reads);
    ASSERT_GT(camera_->moves().size(), moves);
    EXPECT_NEAR(camera_->moves()[moves].pan, -20 + 2.25, 1e-9);
}

TEST_F(FaceFollowerTest, ACameraWithoutAPositionIsNeverMoved) {
    camera_->setReportsPosition(false);
    follower_.start(camera_);
    for (int tick = 0; tick < 20; ++tick) {
        follower_.update(faceCenteredAt(0.9, 0.1));
        this->tick();
    }
    EXPECT_GT(camera_->positionReads(), 0U);
    EXPECT_TRUE(camera_->moves().empty());
    EXPECT_EQ(follower_.state(), std::nullopt);
}

TEST_F(FaceFollowerTest, NoMoveLeavesOnceAPauseOrStopCameDuringTheTick) {
    follower_.start(camera_);
    follower_.update(faceCenteredAt(0.8, 0.38));

    // The pause arrives while the tick is reading the position.
    camera_->setOnPositionRead([this] { follower_.pause(3.0); });
    tick();
    EXPECT_TRUE(camera_->moves().empty());
    EXPECT_EQ(follower_.state(), std::nullopt);

    // Just after the pause, with a fresh face, a stop arrives the same way.
    queue_.advanceSeconds(2.9);
    camera_->setOnPositionRead([this] { follower_.stop(); });
    follower_.update(faceCenteredAt(0.8, 0.38));
    tick();
    EXPECT_EQ(camera_->positionReads(), 2U);
    EXPECT_TRUE(camera_->moves().empty());
    EXPECT_FALSE(follower_.isRunning());

    // Stopped: no more ticks at all.
    camera_->setOnPositionRead(nullptr);
    const size_t reads = camera_->positionReads();
    follower_.update(faceCenteredAt(0.8, 0.38));
    tick(10);
    EXPECT_EQ(camera_->positionReads(), reads);
    EXPECT_TRUE(camera_->moves().empty());
}

TEST_F(FaceFollowerTest, StopForgetsStateFaceAndLastSentButKeepsThePause) {
    follower_.start(camera_);
    follower_.update(faceCenteredAt(0.8, 0.38));
    tick();
    ASSERT_TRUE(follower_.lastSent());
    follower_.pause(10.0);
    follower_.stop();
    EXPECT_EQ(follower_.state(), std::nullopt);
    EXPECT_EQ(follower_.lastSent(), std::nullopt);
    const size_t moves = camera_->moves().size();
    const size_t reads = camera_->positionReads();

    // Restarted: still paused, and afterwards the old face is gone.
    follower_.start(camera_);
    tick(5);
    EXPECT_EQ(camera_->positionReads(), reads);
    queue_.advanceSeconds(10.0);
    EXPECT_GT(camera_->positionReads(), reads);
    ASSERT_TRUE(follower_.state());
    EXPECT_FALSE(follower_.state()->isMoving);
    EXPECT_EQ(camera_->moves().size(), moves);
}

// --- The follower on its own queue, with a position read that blocks (a
// USB transfer that hangs). The owner's calls must come back while the read
// is stuck, and what the stuck tick computes must not move the gimbal once
// a pause or stop has come in between.

// The test's side of a read that waits to be let go.
class ReadGate {
public:
    // Inside the camera's position read, on the follower's queue.
    void enterAndWait() {
        std::unique_lock lock(mutex_);
        reading_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    void recordMove(const CameraPosition& to) {
        std::lock_guard lock(mutex_);
        moves_.push_back(to);
        changed_.notify_all();
    }
    void markReturned() {
        std::lock_guard lock(mutex_);
        returned_ = true;
        changed_.notify_all();
    }
    // Bounded waits: generous, for a loaded machine.
    bool waitUntilReading() { return waitFor([&] { return reading_; }); }
    bool waitUntilReturned() { return waitFor([&] { return returned_; }); }
    bool waitForAMove() { return waitFor([&] { return !moves_.empty(); }); }
    size_t moveCount() {
        std::lock_guard lock(mutex_);
        return moves_.size();
    }

private:
    bool waitFor(const std::function<bool()>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), done);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool reading_ = false;
    bool released_ = false;
    bool returned_ = false;
    std::vector<CameraPosition> moves_;
};

TEST(FaceFollowerBlockingTest, PauseAndStopReturnWhileAReadHangsAndTheStaleMoveIsDropped) {
    struct Case {
        const char* what;
        std::function<void(FaceFollower&)> ownerCall;
        bool ownerDropsCamera;
        bool moveSent;
    };
    const Case cases[] = {
        {"nothing comes between", [](FaceFollower&) {}, false, true},
        {"a pause", [](FaceFollower& f) { f.pause(3600); }, false, false},
        {"a stop", [](FaceFollower& f) { f.stop(); }, false, false},
        {"a stop, then the owner lets the camera go", [](FaceFollower& f) { f.stop(); }, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadGate gate;
        auto camera = std::make_shared<FakeGimbalCamera>();
        const std::weak_ptr<FakeGimbalCamera> cameraSeen = camera;
        camera->setOnPositionRead([&gate] { gate.enterAndWait(); });
        camera->setOnMove([&gate](const CameraPosition& to) { gate.recordMove(to); });

        // The queue is held until the face is in, so the first tick has it.
        SerialQueue queue("Test.FaceFollower");
        std::promise<void> go;
        queue.post([ready = go.get_future().share()] { ready.wait(); });
        auto follower = std::make_unique<FaceFollower>(queue);
        follower->start(camera);
        // Far enough off the target that the first tick moves.
        follower->update(faceCenteredAt(0.8, 0.38));
        go.set_value();
        ASSERT_TRUE(gate.waitUntilReading());

        // The owner's call runs beside the stuck read; a call that waited for
        // it would never come back, so it runs on a thread of its own and
        // the read is let go either way before the verdict.
        std::thread owner([&] {
            c.ownerCall(*follower);
            gate.markReturned();
        });
        const bool returnedWhileStuck = gate.waitUntilReturned();
        if (c.ownerDropsCamera) camera.reset();
        gate.release();
        owner.join();
        EXPECT_TRUE(returnedWhileStuck);

        if (c.moveSent) {
            EXPECT_TRUE(gate.waitForAMove());
        }
        // Destruction waits for the tick, so its move, if any, is out now.
        follower.reset();
        EXPECT_EQ(gate.moveCount() > 0, c.moveSent);
        if (c.ownerDropsCamera) {
            EXPECT_TRUE(cameraSeen.expired());  // the tick let go of the last reference
        }
    }
}

}  // namespace
}  // namespace hollowkit
