#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "lumenhollow/testing/state_recorder.h"
#include "model_harness.h"

namespace lumenhollow::test {
namespace {

using hollowkit::CameraEvent;
using hollowkit::CameraPosition;
using hollowkit::NormalizedRect;
using hollowkit::ZoomRange;
using Faces = std::vector<NormalizedRect>;

// Sits where the framing puts a face, so the follower has nothing to do.
const NormalizedRect kCentredFace{0.4, 0.28, 0.2, 0.2};
const Faces kNoFace{};

constexpr const char* kOn = "Face tracking on";
constexpr const char* kNoFaceInView = "Tracking is on, but no face is in view";
constexpr const char* kLooking = "Looking for a face\u2026";
constexpr const char* kFramed = "Framed";
constexpr const char* kGaveUp = "No face found to frame";

// Finds whatever faces the test says are in the picture now.
class ScriptedFaceBackend final : public hollowkit::FaceDetectorBackend {
public:
    void show(Faces faces) {
        std::lock_guard guard(mutex_);
        faces_ = std::move(faces);
    }
    hollowkit::Result<Faces, std::string> detect(const hollowkit::VideoFrame&) override {
        std::lock_guard guard(mutex_);
        return faces_;
    }

private:
    std::mutex mutex_;
    Faces faces_;  // guarded by mutex_
};

// A live model whose detector sees what the test shows it, one frame per
// 0.1 s of virtual time, with every notice kept with its moment.
struct TrackingHarness : ModelHarness {
    ScriptedFaceBackend* scene = nullptr;  // owned by the detector
    hollowkit::TimePoint start;
    std::vector<std::pair<int, std::string>> notices;  // milliseconds since start, text

    explicit TrackingHarness(bool usb = true, std::optional<CameraPosition> position = CameraPosition{0, 0, 100},
                             std::optional<ZoomRange> range = ZoomRange{100, 400}) {
        cameras.setPocketConnected(usb);
        FakeCamera::Options options;
        options.zoomRange = range;
        options.position = position;
        cameras.setOptions(usb ? ConnectionMode::usb : ConnectionMode::wireless, options);
        CameraModelServices with = services();
        with.imaging.faceDetector = [this](double rate) {
            auto backend = std::make_unique<ScriptedFaceBackend>();
            scene = backend.get();
            return std::make_shared<hollowkit::FaceDetector>(rate, std::move(backend), main);
        };
        model = CameraModel::create(with);
        model->camera().start();
        main.runUntilIdle();
        emit(CameraEvent::stats(picture(1920, 1080)));
        start = main.clock().now();
        model->addObserver([this](Field field) {
            if (field != Field::notice || !state().notice) return;
            const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(main.clock().now() - start);
            notices.emplace_back(static_cast<int>(elapsed.count()), *state().notice);
        });
    }

    // One frame of the camera, showing `faces`.
    void frame(const Faces& faces) {
        scene->show(faces);
        camera()->deliverFrame(FakeCamera::makeFrame(64, 36));
        main.runUntilIdle();
    }
    // A frame every 0.1 s for `seconds`, each showing `faces`.
    void watch(double seconds, const Faces& faces) {
        for (int i = 0; i < static_cast<int>(std::lround(seconds * 10)); ++i) {
            main.advanceSeconds(0.1);
            frame(faces);
        }
    }

    std::vector<CameraPosition> moves() const {
        std::vector<CameraPosition> result;
        for (const std::string& command : camera()->commands()) {
            double pan = 0, tilt = 0;
            int zoom = 0;
            const int read = std::sscanf(command.c_str(), "move %lf %lf %d", &pan, &tilt, &zoom);
            if (read >= 2) result.push_back({pan, tilt, read == 3 ? std::optional<int>(zoom) : std::nullopt});
        }
        return result;
    }
    size_t positionReads() const { return std::ranges::count(camera()->commands(), std::string("currentPosition")); }
    bool detecting() { return model->faceDetector().enabled(); }
};

using Notices = std::vector<std::pair<int, std::string>>;

TEST(FaceTrackingTest, NoticesComeInOrderAndOnTime) {
    struct Case {
        const char* name;
        std::function<void(TrackingHarness&)> script;
        Notices notices;
        bool tracking;
        bool detecting;
        size_t moves;
    };
    const std::vector<Case> cases{
        {"no face from the start: one notice once tracking has run 2 s",
         [](TrackingHarness& h) {
             h.model->startFaceTracking();
             h.watch(4.0, kNoFace);
         },
         {{0, kOn}, {2100, kNoFaceInView}}, true, true, 0},
        {"once per loss: the face comes back and leaves again",
         [](TrackingHarness& h) {
             h.model->startFaceTracking();
             h.watch(3.0, kNoFace);
             h.watch(1.0, {kCentredFace});  // last seen at 4.0
             h.watch(3.0, kNoFace);         // the box goes after more than 1 s
         },
         {{0, kOn}, {2100, kNoFaceInView}, {5100, kNoFaceInView}}, true, true, 0},
        {"a face in view: no notice", [](TrackingHarness& h) {
             h.model->startFaceTracking();
             h.watch(4.0, {kCentredFace});
         },
         {{0, kOn}}, true, true, 0},
        {"a miss of one second is no loss",
         [](TrackingHarness& h) {
             h.model->startFaceTracking();
             h.watch(1.5, {kCentredFace});
             h.watch(1.0, kNoFace);
             h.watch(1.0, {kCentredFace});
         },
         {{0, kOn}}, true, true, 0},
        {"auto frame finds a face",
         [](TrackingHarness& h) {
             h.model->autoFrame();
             h.watch(0.3, kNoFace);
             h.watch(0.3, {kCentredFace});
         },
         {{0, kLooking}, {400, kFramed}}, false, false, 1},
        {"auto frame gives up 2.5 s after asking",
         [](TrackingHarness& h) {
             h.model->autoFrame();
             h.watch(4.0, kNoFace);
         },
         {{0, kLooking}, {2500, kGaveUp}}, false, false, 0},
        {"auto frame gives up also when the detector delivers nothing",
         [](TrackingHarness& h) {
             h.model->autoFrame();
             h.main.advanceSeconds(4.0);
             h.frame({kCentredFace});  // a face later moves nothing
         },
         {{0, kLooking}, {2500, kGaveUp}}, false, false, 0},
        {"asking again restarts the wait: one give-up",
         [](TrackingHarness& h) {
             h.model->autoFrame();
             h.watch(1.0, kNoFace);
             h.model->autoFrame();
             h.watch(4.0, kNoFace);
         },
         {{0, kLooking}, {1000, kLooking}, {3500, kGaveUp}}, false, false, 0},
        {"auto frame while tracking keeps tracking on",
         [](TrackingHarness& h) {
             h.model->startFaceTracking();
             h.watch(0.5, {kCentredFace});
             h.model->autoFrame();
             h.watch(0.2, {kCentredFace});
             h.watch(3.0, {kCentredFace});
         },
         {{0, kOn}, {500, kLooking}, {600, kFramed}}, true, true, 1},
        {"stopping tracking keeps the detector on for a pending auto frame",
         [](TrackingHarness& h) {
             h.model->startFaceTracking();
             h.model->autoFrame();
             h.model->stopFaceTracking();
             ASSERT_TRUE(h.detecting());
             h.watch(0.5, {kCentredFace});
         },
         {{0, kOn}, {0, kLooking}, {100, kFramed}}, false, false, 1},
        {"stopping tracking while tracking alone turns the detector off",
         [](TrackingHarness& h) {
             h.model->startFaceTracking();
             h.watch(0.5, {kCentredFace});
             h.model->stopFaceTracking();
             h.watch(3.0, kNoFace);
         },
         {{0, kOn}}, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrackingHarness h;
        c.script(h);
        EXPECT_EQ(h.notices, c.notices);
        EXPECT_EQ(h.state().faceTracking, c.tracking);
        EXPECT_EQ(h.detecting(), c.detecting);
        EXPECT_EQ(h.moves().size(), c.moves);
        EXPECT_FALSE(h.model->isAutoFramePending());
        if (!c.detecting) {
            EXPECT_EQ(h.state().trackedFace, std::nullopt);
        }
    }
}

TEST(FaceTrackingTest, TheFaceBoxLingersThroughMissesOfUpToASecond) {
    TrackingHarness h;
    h.model->startFaceTracking();
    const NormalizedRect face{0.1, 0.2, 0.3, 0.3};
    h.watch(0.5, {face, kCentredFace});
    EXPECT_EQ(h.state().trackedFace, face) << "the first face, the largest";
    h.watch(1.0, kNoFace);  // exactly one second since the last face
    EXPECT_EQ(h.state().trackedFace, face);
    h.watch(0.1, kNoFace);
    EXPECT_EQ(h.state().trackedFace, std::nullopt);
}

TEST(FaceTrackingTest, OverWiFiBothRefuseAndTheDetectorStaysOff) {
    TrackingHarness h(false);
    h.model->startFaceTracking();
    h.model->autoFrame();
    h.watch(3.0, {kCentredFace});
    EXPECT_EQ(h.notices, (Notices{{0,
                                   "Face tracking: Over Wi-Fi Lumenhollow cannot steer the gimbal to an exact "
                                   "angle yet, so this would drift. Connect the camera with USB-C and choose "
                                   "Webcam to use it."},
                                  {0,
                                   "Auto frame: Over Wi-Fi Lumenhollow cannot steer the gimbal to an exact angle "
                                   "yet, so this would drift. Connect the camera with USB-C and choose Webcam to "
                                   "use it."}}));
    EXPECT_FALSE(h.state().faceTracking);
    EXPECT_FALSE(h.detecting());
    EXPECT_FALSE(h.model->faceFollower().isRunning());
    EXPECT_EQ(h.state().trackedFace, std::nullopt);
}

TEST(FaceTrackingTest, TrackingWaitsForALivePicture) {
    for (bool statsAtAll : {false, true}) {
        SCOPED_TRACE(statsAtAll);
        TrackingHarness h;
        if (statsAtAll) {
            h.emit(CameraEvent::stats(picture(1920, 1080, false)));
        } else {
            h.model->connect(ConnectionMode::usb);  // a new camera has no statistics yet
            h.main.runUntilIdle();
        }
        h.notices.clear();
        h.model->startFaceTracking();
        EXPECT_EQ(h.notices, (Notices{{0, "Face tracking starts once the video is live"}}));
        EXPECT_FALSE(h.state().faceTracking);
        EXPECT_FALSE(h.detecting());
    }
}

TEST(FaceTrackingTest, StartingAndStoppingDriveTheFollower) {
    TrackingHarness h;
    StateRecorder recorder(h.model);
    h.model->startFaceTracking();
    EXPECT_TRUE(h.model->faceFollower().isRunning());
    EXPECT_EQ(recorder.fields(), (std::vector<Field>{Field::faceTracking, Field::notice}));
    recorder.clear();
    h.model->stopFaceTracking();
    EXPECT_FALSE(h.model->faceFollower().isRunning());
    EXPECT_EQ(recorder.fields(), (std::vector<Field>{Field::faceTracking, Field::trackedFace, Field::trackedFace}));
    recorder.clear();
    h.model->stopFaceTracking();
    EXPECT_TRUE(recorder.fields().empty()) << "stopping when off does nothing";
}

TEST(FaceTrackingTest, TheFollowerGetsTheFacesWhileTrackingAndSteers) {
    TrackingHarness h;
    h.model->startFaceTracking();
    // Far right of the picture: the follower turns the camera right.
    h.watch(0.5, {NormalizedRect{0.8, 0.28, 0.1, 0.1}});
    const std::vector<CameraPosition> moves = h.moves();
    ASSERT_FALSE(moves.empty());
    EXPECT_GT(moves.back().pan, 0.0);
    EXPECT_EQ(moves.back().zoom, std::nullopt);
}

TEST(FaceTrackingTest, TheFramingMoveAimsAtTheFace) {
    struct Case {
        const char* name;
        std::optional<ZoomRange> range;
        NormalizedRect face;
        CameraPosition target;
        std::optional<int> zoom;  // published
    };
    // Seen from pan 0, tilt 0 at 1.0x; 70 degrees across, 39.375 up and down.
    const std::vector<Case> cases{
        {"a fifth of the height already", ZoomRange{100, 400}, {0.4, 0.3, 0.2, 0.2}, {0, -0.7875, 100}, 100},
        {"a tenth: zoom 2x", ZoomRange{100, 400}, {0.45, 0.35, 0.1, 0.1}, {0, 1.575, 200}, 200},
        {"to the right", ZoomRange{100, 400}, {0.6, 0.3, 0.2, 0.2}, {14, -0.7875, 100}, 100},
        {"a tiny face at the range's top", ZoomRange{100, 300}, {0.49, 0.37, 0.02, 0.02}, {0, 3.15, 300}, 300},
        {"no zoom range", std::nullopt, {0.4, 0.3, 0.2, 0.2}, {0, -0.7875, std::nullopt}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrackingHarness h(true, CameraPosition{0, 0, 100}, c.range);
        h.model->autoFrame();
        h.watch(0.1, {c.face});
        const std::vector<CameraPosition> moves = h.moves();
        ASSERT_EQ(moves.size(), 1u);
        EXPECT_NEAR(moves[0].pan, c.target.pan, 0.006);
        EXPECT_NEAR(moves[0].tilt, c.target.tilt, 0.006);
        EXPECT_EQ(moves[0].zoom, c.target.zoom);
        EXPECT_EQ(h.state().zoom, c.zoom);
        EXPECT_EQ(h.notices.back().second, kFramed);
    }
}

TEST(FaceTrackingTest, AnUnreadablePositionDropsTheRequestSilently) {
    TrackingHarness h(true, std::nullopt);
    h.model->autoFrame();
    h.watch(3.0, {kCentredFace});
    EXPECT_EQ(h.notices, (Notices{{0, kLooking}}));
    EXPECT_TRUE(h.moves().empty());
    EXPECT_FALSE(h.model->isAutoFramePending());
    EXPECT_FALSE(h.detecting());
}

TEST(FaceTrackingTest, AFramingMoveHoldsTheFollowerForThreeSeconds) {
    TrackingHarness h;
    h.model->startFaceTracking();
    h.watch(0.5, {kCentredFace});
    h.model->autoFrame();
    h.watch(0.1, {kCentredFace});
    ASSERT_EQ(h.notices.back().second, kFramed);
    const size_t readsAtMove = h.positionReads();
    h.main.advanceSeconds(2.95);
    EXPECT_EQ(h.positionReads(), readsAtMove);
    h.main.advanceSeconds(0.1);
    EXPECT_GT(h.positionReads(), readsAtMove);
}

TEST(FaceTrackingTest, AnotherRouteEndsTrackingAndAPendingAutoFrame) {
    TrackingHarness h;
    h.model->startFaceTracking();
    h.model->autoFrame();
    h.notices.clear();
    h.model->selectConnection(ConnectionMode::wireless);
    h.main.runUntilIdle();
    EXPECT_FALSE(h.state().faceTracking);
    EXPECT_FALSE(h.model->isAutoFramePending());
    EXPECT_FALSE(h.detecting());
    EXPECT_FALSE(h.model->faceFollower().isRunning());
    h.main.advanceSeconds(5);
    EXPECT_TRUE(h.notices.empty()) << "no give-up for a request the switch ended";
}

TEST(FaceTrackingTest, ALateDetectionAfterStoppingLeavesNoFaceBox) {
    TrackingHarness h;
    h.model->startFaceTracking();
    h.watch(0.5, kNoFace);
    // The frame's detection is already on its way when tracking stops.
    h.scene->show({kCentredFace});
    h.main.advanceSeconds(0.1);
    h.camera()->deliverFrame(FakeCamera::makeFrame(64, 36));
    h.model->stopFaceTracking();
    h.main.runUntilIdle();
    EXPECT_EQ(h.state().trackedFace, std::nullopt);
}

}  // namespace
}  // namespace lumenhollow::test
