// The scene camera seen by the real face cascade: a face in the rendered
// frames moves and grows as the lens turns and zooms.

#include "hollowkit/simulation/scene_camera.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/imaging/haar_face_detector_backend.h"
#include "hollowkit/testing/manual_executor.h"

namespace hollowkit {
namespace {

class SceneCameraFaceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (std::filesystem::exists(ScenePanorama::kFacePhotoPath)) scene_ = ScenePanorama::build();
    }
    static void TearDownTestSuite() { scene_.reset(); }

    void SetUp() override {
        if (!scene_) GTEST_SKIP() << ScenePanorama::kFacePhotoPath << " is missing: install opencv-doc";
        if (!std::filesystem::exists(HaarFaceDetectorBackend::kDefaultCascadePath)) {
            GTEST_SKIP() << HaarFaceDetectorBackend::kDefaultCascadePath << " is missing: install opencv-data";
        }
    }

    static std::shared_ptr<const ScenePanorama> scene_;
};

std::shared_ptr<const ScenePanorama> SceneCameraFaceTest::scene_;

// The face hangs at pan 0, tilt 0. Turning the lens moves it the other way
// across the picture by the turn over the field of view; zooming in makes it
// larger by the zoom.
TEST_F(SceneCameraFaceTest, TheDetectedFaceMovesOppositeToTheTurn) {
    struct Pose {
        LensPose pose;
        double expectedX;  // the face's centre, share of the width
        double expectedY;
    };
    // Expected from the geometry alone: x = 0.5 - pan / (80 / zoom),
    // y = 0.5 + tilt / (45 / zoom) for a 16:9 picture.
    const std::vector<Pose> poses{
        {{0, 0, 100}, 0.5, 0.5},       {{-8, 0, 100}, 0.6, 0.5},   {{12, 0, 100}, 0.35, 0.5},
        {{0, 9, 100}, 0.5, 0.7},       {{0, -4.5, 100}, 0.5, 0.4}, {{5, 0, 200}, 0.375, 0.5},
        {{-4, 2.25, 200}, 0.6, 0.6},
    };
    ManualExecutor main;
    SceneCamera::Options options;
    options.pacedFrames = false;
    options.format = {1280, 720, 30};
    SceneCamera camera(main, scene_, options);
    HaarFaceDetectorBackend backend;
    double widthAtZoom1 = 0;
    for (const Pose& p : poses) {
        SCOPED_TRACE(testing::Message() << "pan " << p.pose.panDegrees << " tilt " << p.pose.tiltDegrees << " zoom "
                                        << p.pose.zoomPercent);
        camera.setPose(p.pose);
        auto faces = backend.detect(camera.renderFrame());
        ASSERT_TRUE(faces.has_value()) << faces.error();
        ASSERT_EQ(faces.value().size(), 1U);
        const NormalizedRect& face = faces.value()[0];
        // The photograph's face box is not centred on the point the scene
        // hangs at pan 0 to the pixel; a few hundredths of the picture.
        EXPECT_NEAR(face.midX(), p.expectedX, 0.03);
        EXPECT_NEAR(face.midY(), p.expectedY, 0.04);
        if (p.pose.zoomPercent == 100 && p.pose.panDegrees == 0 && p.pose.tiltDegrees == 0) widthAtZoom1 = face.width;
        if (p.pose.zoomPercent == 200) {
            EXPECT_NEAR(face.width / widthAtZoom1, 2.0, 0.3);
        }
    }
}

// Relative to the straight-ahead picture, the face moves by exactly the
// turn's share of the view, whatever the cascade's box offset.
TEST_F(SceneCameraFaceTest, TheFaceShiftMatchesTheTurnClosely) {
    ManualExecutor main;
    SceneCamera::Options options;
    options.pacedFrames = false;
    options.format = {1280, 720, 30};
    SceneCamera camera(main, scene_, options);
    HaarFaceDetectorBackend backend;
    auto faceAt = [&](double pan) {
        camera.setPose({pan, 0, 150});
        auto faces = backend.detect(camera.renderFrame());
        EXPECT_TRUE(faces.has_value() && faces.value().size() == 1);
        return faces.has_value() && !faces.value().empty() ? faces.value()[0].midX() : -1.0;
    };
    const double ahead = faceAt(0);
    const double fieldOfView = 80.0 / 1.5;
    for (double pan : {-10.0, -5.0, 6.0, 12.0}) {
        EXPECT_NEAR(faceAt(pan) - ahead, -pan / fieldOfView, 0.012) << pan;
    }
}

}  // namespace
}  // namespace hollowkit
