// Face tracking and auto framing in a closed loop: the model with its real
// face detector (the Haar cascade) and follower, steering a camera that
// films a photograph of a person through a virtual pan/tilt/zoom lens. The
// lens sees 80 degrees across while the framing assumes the Pocket's 70,
// so the loop has to work with a model of the camera that is not exact.
// Everything runs on one manual executor: frames every 0.05 s of virtual
// time, detections and follower ticks in between.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hollowkit/imaging/framing_geometry.h"
#include "hollowkit/imaging/haar_face_detector_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/simulation/scene_camera.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_app_shell.h"
#include "lumenhollow/testing/fake_desktop.h"
#include "lumenhollow/testing/fake_model_services.h"
#include "lumenhollow/testing/fake_disk_space.h"
#include "lumenhollow/testing/fake_secret_store.h"
#include "lumenhollow/testing/fake_secure_random.h"
#include "lumenhollow/testing/memory_settings_store.h"

namespace lumenhollow::test {
namespace {

using hollowkit::LensPose;
using hollowkit::NormalizedRect;
using hollowkit::SceneCamera;

constexpr double kFrameSeconds = 0.05;

// The camera on USB is a SceneCamera over one shared panorama.
class SceneCameraFactory final : public CameraFactory {
public:
    SceneCameraFactory(hollowkit::MainExecutor& main, LensPose start) : main_(main), start_(start) {}

    bool isPocketConnected() override { return true; }
    std::shared_ptr<hollowkit::PocketCamera> makeCamera(ConnectionMode, const std::string&,
                                                        const std::optional<hollowkit::HomeNetwork>&) override {
        SceneCamera::Options options;
        options.format = {960, 540, 30};
        options.pacedFrames = false;
        options.moveDegreesPerSecond = 60;
        options.start = start_;
        auto camera = std::make_shared<SceneCamera>(main_, scene(), options);
        latest_ = camera;
        return camera;
    }
    std::shared_ptr<SceneCamera> latest() const { return latest_.lock(); }

    static std::shared_ptr<const hollowkit::ScenePanorama> scene() {
        static const std::shared_ptr<const hollowkit::ScenePanorama> panorama = hollowkit::ScenePanorama::build();
        return panorama;
    }

private:
    hollowkit::MainExecutor& main_;
    const LensPose start_;
    std::weak_ptr<SceneCamera> latest_;
};

// The detector's queue on a busy machine: each detection starts `lateness`
// after its frame was offered, on the test's executor.
class LateQueue final : public hollowkit::Executor {
public:
    LateQueue(hollowkit::Executor& main, double lateness) : main_(main), lateness_(hollowkit::toDuration(lateness)) {}

    void post(hollowkit::Task task) override { main_.after(lateness_, std::move(task)); }
    hollowkit::TaskId after(hollowkit::Duration delay, hollowkit::Task task) override {
        return main_.after(delay + lateness_, std::move(task));
    }
    hollowkit::TaskId every(hollowkit::Duration interval, hollowkit::Task task) override {
        return main_.every(interval, std::move(task));
    }
    void cancel(hollowkit::TaskId id) override { main_.cancel(id); }
    bool isCurrent() const override { return main_.isCurrent(); }
    const hollowkit::Clock& clock() const override { return main_.clock(); }

private:
    hollowkit::Executor& main_;
    const hollowkit::Duration lateness_;
};

struct ClosedLoop {
    hollowkit::ManualExecutor main;
    LateQueue detections;
    MemorySettingsStore settings;
    FakeSecretStore secrets;
    FakeSecureRandom random;
    FakeDiskSpace disk;
    SceneCameraFactory cameras;
    FakeAppShell shell;
    FakeDesktop desktop;
    std::shared_ptr<CountingVideoSink> displayLayer = std::make_shared<CountingVideoSink>(false);
    std::shared_ptr<CountingVideoSink> notchLayer = std::make_shared<CountingVideoSink>(false);
    std::shared_ptr<CameraModel> model;
    hollowkit::TimePoint start;
    std::vector<std::pair<double, std::string>> notices;  // seconds since start, text

    // Each detection starts `detectionLateness` seconds after its frame.
    explicit ClosedLoop(LensPose pose, double detectionLateness = 0)
        : detections(main, detectionLateness), cameras(main, pose) {
        // The real detector, on the test's executor.
        ImagingFactory imaging = fakeImaging(main, [] { return std::unique_ptr<hollowkit::FaceDetectorBackend>(); });
        imaging.faceDetector = [this](double rate) {
            return std::make_shared<hollowkit::FaceDetector>(rate, nullptr, detections);
        };
        model = CameraModel::create(CameraModelServices{main, settings, secrets, random, disk, cameras, shell,
                                                        desktop, displayLayer, notchLayer, "/nonexistent-parent/Lumenhollow",
                                                        imaging});
        model->camera().start();
        model->addObserver([this](Field field) {
            if (field != Field::notice || !model->state().notice) return;
            notices.emplace_back(seconds(), *model->state().notice);
        });
        start = main.clock().now();
        // The first statistics, 2 s in, say the picture is live.
        run(2.05);
        notices.clear();
        start = main.clock().now();
    }

    SceneCamera& camera() { return *cameras.latest(); }
    double seconds() const { return std::chrono::duration<double>(main.clock().now() - start).count(); }

    // The camera films for `duration` seconds of virtual time.
    void run(double duration) {
        for (int i = 0; i < static_cast<int>(std::lround(duration / kFrameSeconds)); ++i) {
            main.advanceSeconds(kFrameSeconds);
            camera().deliverFrameNow();
            main.runUntilIdle();
        }
    }
    // Films until the model shows a face box (at most `limit` seconds).
    std::optional<NormalizedRect> runUntilFace(double limit) {
        for (double t = 0; t < limit && !model->state().trackedFace; t += kFrameSeconds) run(kFrameSeconds);
        return model->state().trackedFace;
    }
    std::vector<std::string> noticeTexts() const {
        std::vector<std::string> texts;
        for (const auto& [when, text] : notices) texts.push_back(text);
        return texts;
    }
};

// The photograph and the cascade come from Debian packages (opencv-doc, opencv-data).
#define SKIP_WITHOUT_FACES()                                                                                  \
    do {                                                                                                      \
        const auto& hung = SceneCameraFactory::scene()->hungPictures();                                      \
        if (std::find(hung.begin(), hung.end(), hollowkit::ScenePanorama::kFacePhotoPath) == hung.end())     \
            GTEST_SKIP() << hollowkit::ScenePanorama::kFacePhotoPath << " is missing: install opencv-doc";    \
        if (!std::filesystem::exists(hollowkit::HaarFaceDetectorBackend::kDefaultCascadePath))               \
            GTEST_SKIP() << hollowkit::HaarFaceDetectorBackend::kDefaultCascadePath                          \
                         << " is missing: install opencv-data";                                              \
    } while (false)

// How far a face box's centre is from where the framing puts it.
double framingError(const NormalizedRect& face) {
    return std::hypot(face.midX() - hollowkit::kFramingTargetX, face.midY() - hollowkit::kFramingTargetY);
}

// The follower stops within its hysteresis; the detector's box wobbles a little.
constexpr double kHeldError = 0.06;

TEST(FaceTrackingClosedLoopTest, TrackingBringsAnOffCentreFaceToTheTargetAndHoldsIt) {
    SKIP_WITHOUT_FACES();
    // The face starts low and to the left of the picture.
    ClosedLoop loop(LensPose{12, 7, 100});
    loop.model->startFaceTracking();
    ASSERT_EQ(loop.noticeTexts(), std::vector<std::string>{"Face tracking on"});
    const std::optional<NormalizedRect> first = loop.runUntilFace(1.0);
    ASSERT_TRUE(first) << "the detector finds the face";
    EXPECT_GT(framingError(*first), 0.15) << "off-centre to begin with";

    loop.run(3.0);
    ASSERT_TRUE(loop.model->state().trackedFace);
    EXPECT_LT(framingError(*loop.model->state().trackedFace), kHeldError);

    // Held: the camera stays put and the face stays on the target.
    const LensPose settled = loop.camera().pose();
    for (int second = 0; second < 3; ++second) {
        loop.run(1.0);
        ASSERT_TRUE(loop.model->state().trackedFace);
        EXPECT_LT(framingError(*loop.model->state().trackedFace), kHeldError);
    }
    const LensPose later = loop.camera().pose();
    EXPECT_NEAR(later.panDegrees, settled.panDegrees, 1.0);
    EXPECT_NEAR(later.tiltDegrees, settled.tiltDegrees, 1.0);
    EXPECT_EQ(loop.noticeTexts(), std::vector<std::string>{"Face tracking on"}) << "the face was always in view";
}

TEST(FaceTrackingClosedLoopTest, DetectionsThatComeLateStillBringTheFaceToTheTargetOnce) {
    SKIP_WITHOUT_FACES();
    // As on a busy machine: each detection starts 0.4 s after its frame, so
    // a face tells where the camera pointed two fifths of a second ago.
    ClosedLoop loop(LensPose{12, 7, 100}, 0.4);
    loop.model->startFaceTracking();
    ASSERT_TRUE(loop.runUntilFace(2.0)) << "the detector finds the face";

    // The camera turns left towards the face; it must not swing past where
    // it comes to rest and back.
    double leftmost = loop.camera().pose().panDegrees;
    for (int frame = 0; frame < 120; ++frame) {
        loop.run(kFrameSeconds);
        leftmost = std::min(leftmost, loop.camera().pose().panDegrees);
    }
    const LensPose settled = loop.camera().pose();
    EXPECT_GT(leftmost, settled.panDegrees - 1.0) << "turned past the face and back";
    loop.run(3.0);
    const LensPose later = loop.camera().pose();
    EXPECT_NEAR(later.panDegrees, settled.panDegrees, 1.0) << "still hunting";
    EXPECT_NEAR(later.tiltDegrees, settled.tiltDegrees, 1.0) << "still hunting";
    ASSERT_TRUE(loop.model->state().trackedFace);
    EXPECT_LT(framingError(*loop.model->state().trackedFace), kHeldError);
}

TEST(FaceTrackingClosedLoopTest, AutoFramingFramesTheFaceAndSaysSo) {
    SKIP_WITHOUT_FACES();
    ClosedLoop loop(LensPose{-10, -6, 100});
    loop.model->autoFrame();
    loop.run(1.0);
    ASSERT_EQ(loop.noticeTexts(), (std::vector<std::string>{"Looking for a face\u2026", "Framed"}));
    EXPECT_LT(loop.notices[1].first, 0.5) << "the first detection frames";
    ASSERT_TRUE(loop.model->state().zoom);
    EXPECT_GT(*loop.model->state().zoom, 100) << "a face smaller than a fifth of the height is zoomed in on";
    EXPECT_EQ(loop.camera().pose().zoomPercent, *loop.model->state().zoom);

    // The detector is off once framed; tracking shows where the face is now
    // without moving the camera for the first moments.
    loop.model->startFaceTracking();
    const std::optional<NormalizedRect> framed = loop.runUntilFace(1.0);
    ASSERT_TRUE(framed);
    EXPECT_LT(framingError(*framed), 0.1);
    EXPECT_NEAR(framed->height, 0.2, 0.07) << "the face fills about a fifth of the height";
}

TEST(FaceTrackingClosedLoopTest, WithTheFaceOutOfViewTheNoticesComeInOrder) {
    SKIP_WITHOUT_FACES();
    // Looking at the sky above the person.
    ClosedLoop loop(LensPose{0, 70, 100});
    loop.model->startFaceTracking();
    loop.run(2.5);
    loop.model->autoFrame();
    loop.run(4.0);
    EXPECT_EQ(loop.noticeTexts(),
              (std::vector<std::string>{"Face tracking on", "Tracking is on, but no face is in view",
                                        "Looking for a face\u2026", "No face found to frame"}));
    ASSERT_EQ(loop.notices.size(), 4u);
    EXPECT_NEAR(loop.notices[1].first, 2.0, 0.1);
    EXPECT_NEAR(loop.notices[3].first - loop.notices[2].first, 2.5, 1e-6);
    EXPECT_EQ(loop.model->state().trackedFace, std::nullopt);
    EXPECT_EQ(loop.camera().pose(), (LensPose{0, 70, 100})) << "nothing to follow, nothing moved";
}

}  // namespace
}  // namespace lumenhollow::test
