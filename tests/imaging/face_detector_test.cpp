#include "hollowkit/imaging/face_detector.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hollowkit/imaging/haar_face_detector_backend.h"
#include "hollowkit/testing/fake_face_detector_backend.h"
#include "hollowkit/testing/imaging_test_pictures.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/test_support.h"

namespace hollowkit {
namespace {

// A picture of a footballer from Debian's opencv-doc package: one face,
// upper middle.
constexpr const char* kFacePhoto = "/usr/share/doc/opencv-doc/examples/data/messi5.jpg";

// A calibration picture from the same package: a man at a desk, 640×480,
// his face turned away towards the picture's left, nearly in profile. The
// box runs from the forehead to the chin and from the tip of the nose to
// the ear, as read off the picture itself.
constexpr const char* kProfilePhoto = "/usr/share/doc/opencv-doc/examples/data/right06.jpg";
constexpr NormalizedRect kProfileFace{150.0 / 640, 115.0 / 480, 102.0 / 640, 120.0 / 480};

// Shared area over combined area.
double overlap(const NormalizedRect& a, const NormalizedRect& b) {
    const double w = std::max(0.0, std::min(a.maxX(), b.maxX()) - std::max(a.x, b.x));
    const double h = std::max(0.0, std::min(a.maxY(), b.maxY()) - std::max(a.y, b.y));
    return w * h / (a.area() + b.area() - w * h);
}

VideoFrame smallFrame(TimePoint pts = {}) {
    WritableVideoFrame frame = WritableVideoFrame::allocate(PixelFormat::bgra, 64, 36);
    return std::move(frame).freeze(pts);
}

class FaceDetectorTest : public ::testing::Test {
protected:
    FaceDetectorTest() {
        auto backend = std::make_unique<FakeFaceDetectorBackend>();
        backend_ = backend.get();
        detector_ = std::make_unique<FaceDetector>(15.0, std::move(backend), queue_);
        detector_->setOnFaces([this](const std::vector<NormalizedRect>& faces, TimePoint seenAt) {
            deliveries_.push_back(faces);
            seenAt_.push_back(seenAt);
        });
    }

    // Submits one frame and runs whatever detection it started.
    void submitAndRun() {
        detector_->submit(smallFrame());
        queue_.runUntilIdle();
    }

    ManualExecutor queue_;
    FakeFaceDetectorBackend* backend_ = nullptr;
    std::unique_ptr<FaceDetector> detector_;
    std::vector<std::vector<NormalizedRect>> deliveries_;
    std::vector<TimePoint> seenAt_;  // each delivery's frame time
};

TEST_F(FaceDetectorTest, ANeverEnabledDetectorAcceptsNothing) {
    for (int i = 0; i < 3; ++i) {
        submitAndRun();
        queue_.advanceSeconds(1.0);
    }
    EXPECT_EQ(backend_->callCount(), 0U);
    EXPECT_TRUE(deliveries_.empty());
}

TEST_F(FaceDetectorTest, ThrottlesToTheRate) {
    detector_->setEnabled(true);
    EXPECT_EQ(detector_->interval(), toDuration(1.0 / 15.0));
    submitAndRun();  // first frame: the last run lies in the distant past
    EXPECT_EQ(backend_->callCount(), 1U);

    // 1/30 s later: dropped, though the first detection has finished.
    queue_.manualClock().advance(toDuration(1.0 / 30.0));
    submitAndRun();
    EXPECT_EQ(backend_->callCount(), 1U);

    // Exactly one interval after the first start: accepted.
    queue_.manualClock().advance(detector_->interval() - toDuration(1.0 / 30.0));
    submitAndRun();
    EXPECT_EQ(backend_->callCount(), 2U);
    EXPECT_EQ(deliveries_.size(), 2U);
}

TEST_F(FaceDetectorTest, ADetectionInFlightRefusesFramesEvenAfterTheInterval) {
    detector_->setEnabled(true);
    const TimePoint taken = queue_.clock().now();
    detector_->submit(smallFrame(taken));  // queued, not yet run
    queue_.manualClock().advanceSeconds(1.0);
    detector_->submit(smallFrame(queue_.clock().now()));
    queue_.runUntilIdle();
    EXPECT_EQ(backend_->callCount(), 1U);
    // Delivered a second late, the result still names its frame's time.
    EXPECT_EQ(seenAt_, std::vector<TimePoint>{taken});
}

TEST_F(FaceDetectorTest, DeliversLargestFirstAndKeepsTheBackendOrderForEqualAreas) {
    const NormalizedRect small{0.1, 0.1, 0.1, 0.2};   // 0.02
    const NormalizedRect first{0.5, 0.1, 0.2, 0.4};   // 0.08
    const NormalizedRect second{0.2, 0.5, 0.4, 0.2};  // 0.08
    backend_->pushAnswer(std::vector<NormalizedRect>{small, first, second});
    backend_->pushAnswer(std::vector<NormalizedRect>{});
    detector_->setEnabled(true);
    submitAndRun();
    queue_.advanceSeconds(1.0);
    submitAndRun();
    ASSERT_EQ(deliveries_.size(), 2U);
    EXPECT_EQ(deliveries_[0], (std::vector<NormalizedRect>{first, second, small}));
    // No face is news too: an empty list is delivered.
    EXPECT_TRUE(deliveries_[1].empty());
}

TEST_F(FaceDetectorTest, DisablingLetsTheRunningDetectionDeliver) {
    detector_->setEnabled(true);
    detector_->submit(smallFrame());
    detector_->setEnabled(false);
    EXPECT_FALSE(detector_->enabled());
    queue_.runUntilIdle();
    EXPECT_EQ(deliveries_.size(), 1U);
    queue_.advanceSeconds(1.0);
    submitAndRun();
    EXPECT_EQ(backend_->callCount(), 1U);
}

TEST_F(FaceDetectorTest, AFrameWithoutPicturesLeavesTheDetectorReady) {
    detector_->setEnabled(true);
    detector_->submit(VideoFrame{});
    queue_.runUntilIdle();
    EXPECT_EQ(backend_->callCount(), 0U);
    queue_.advanceSeconds(1.0);
    submitAndRun();
    EXPECT_EQ(backend_->callCount(), 1U);
}

TEST_F(FaceDetectorTest, AFailureIsLoggedOnceAndDeliversNothing) {
    testsupport::LogCapture log;
    backend_->pushAnswer(unexpected(std::string("model missing")));
    backend_->pushAnswer(unexpected(std::string("model missing")));
    backend_->pushAnswer(unexpected(std::string("camera gone")));
    detector_->setEnabled(true);
    for (int i = 0; i < 4; ++i) {
        submitAndRun();
        queue_.advanceSeconds(1.0);
    }
    EXPECT_EQ(backend_->callCount(), 4U);  // each failure cleared busy
    EXPECT_TRUE(deliveries_.empty());
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Face detection failed: model missing",
                                                         "Face detection failed: camera gone"}));
}

TEST(FaceDetectorQueueTest, SubmitNeverWaitsForADetectionOnTheOwnQueue) {
    auto backend = std::make_unique<FakeFaceDetectorBackend>();
    FakeFaceDetectorBackend& fake = *backend;
    fake.closeGate();
    FaceDetector detector(1000.0, std::move(backend));
    detector.setEnabled(true);
    detector.submit(smallFrame());
    ASSERT_TRUE(fake.waitForCalls(1));
    // The detection hangs in the backend; frames keep coming and are dropped.
    for (int i = 0; i < 5; ++i) {
        detector.submit(smallFrame());
    }
    fake.openGate();
    ASSERT_TRUE(fake.waitForFinished(1));
    EXPECT_EQ(fake.callCount(), 1U);
}

// --- The real cascade.

TEST(HaarFaceDetectorBackendTest, FindsTheFaceInAPhotographTopLeftNormalised) {
    if (!std::filesystem::exists(kFacePhoto)) {
        GTEST_SKIP() << kFacePhoto << " is missing: install Debian's opencv-doc package";
    }
    if (!std::filesystem::exists(HaarFaceDetectorBackend::kDefaultCascadePath)) {
        GTEST_SKIP() << HaarFaceDetectorBackend::kDefaultCascadePath << " is missing: install opencv-data";
    }
    const VideoFrame photo = loadImageFile(kFacePhoto);
    ASSERT_FALSE(photo.isNull());
    HaarFaceDetectorBackend backend;
    for (const VideoFrame& frame : {photo, toNv12(photo)}) {
        SCOPED_TRACE(frame.pixelFormat() == PixelFormat::nv12 ? "NV12" : "BGRA");
        auto faces = backend.detect(frame);
        ASSERT_TRUE(faces.has_value()) << faces.error();
        ASSERT_EQ(faces.value().size(), 1U);
        const NormalizedRect& face = faces.value()[0];
        // The face is in the upper third, a little left of the middle; with
        // the origin at the bottom its centre would be near 0.67.
        EXPECT_NEAR(face.midX(), 0.45, 0.03);
        EXPECT_NEAR(face.midY(), 0.33, 0.03);
        EXPECT_NEAR(face.width, 0.07, 0.03);
    }
}

// The profile cascade knows faces turned one way; the mirrored search finds
// the other. The frontal cascade alone misses both.
TEST(HaarFaceDetectorBackendTest, FindsAFaceTurnedAwayEitherWay) {
    if (!std::filesystem::exists(kProfilePhoto)) {
        GTEST_SKIP() << kProfilePhoto << " is missing: install Debian's opencv-doc package";
    }
    if (!std::filesystem::exists(HaarFaceDetectorBackend::kDefaultProfileCascadePath)) {
        GTEST_SKIP() << HaarFaceDetectorBackend::kDefaultProfileCascadePath << " is missing: install opencv-data";
    }
    const VideoFrame photo = loadImageFile(kProfilePhoto);
    ASSERT_FALSE(photo.isNull());
    const VideoFrame mirror = mirrored(photo);
    const NormalizedRect mirroredFace{1 - kProfileFace.maxX(), kProfileFace.y, kProfileFace.width,
                                      kProfileFace.height};
    struct Case {
        const char* label;
        VideoFrame frame;
        NormalizedRect truth;
    };
    const Case cases[] = {
        {"turned left, BGRA", photo, kProfileFace},
        {"turned left, NV12", toNv12(photo), kProfileFace},
        {"turned right, BGRA", mirror, mirroredFace},
        {"turned right, NV12", toNv12(mirror), mirroredFace},
    };
    HaarFaceDetectorBackend backend;
    HaarFaceDetectorBackend::Options frontalOnly;
    frontalOnly.profileCascadePath.clear();
    HaarFaceDetectorBackend frontal(frontalOnly);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto faces = backend.detect(c.frame);
        ASSERT_TRUE(faces.has_value()) << faces.error();
        ASSERT_EQ(faces.value().size(), 1U);
        const NormalizedRect& face = faces.value()[0];
        EXPECT_GE(overlap(face, c.truth), 0.4)
            << "found x " << face.x << " y " << face.y << " w " << face.width << " h " << face.height;

        auto missed = frontal.detect(c.frame);
        ASSERT_TRUE(missed.has_value());
        EXPECT_TRUE(missed.value().empty());
    }
}

TEST(HaarFaceDetectorBackendTest, APictureWithoutFacesGivesAnEmptyList) {
    if (!std::filesystem::exists(HaarFaceDetectorBackend::kDefaultCascadePath)) {
        GTEST_SKIP() << HaarFaceDetectorBackend::kDefaultCascadePath << " is missing: install opencv-data";
    }
    HaarFaceDetectorBackend backend;
    const FigureScene room = makeFigureScene(1280, 720, PixelFormat::nv12);
    auto faces = backend.detect(room.frame);
    ASSERT_TRUE(faces.has_value());
    EXPECT_TRUE(faces.value().empty());
}

TEST(HaarFaceDetectorBackendTest, AMissingModelFailsNamingTheFile) {
    HaarFaceDetectorBackend::Options options;
    options.cascadePath = "/nonexistent/face.xml";
    HaarFaceDetectorBackend backend(options);
    auto faces = backend.detect(smallFrame());
    ASSERT_FALSE(faces.has_value());
    EXPECT_NE(faces.error().find("/nonexistent/face.xml"), std::string::npos);
}

}  // namespace
}  // namespace hollowkit
