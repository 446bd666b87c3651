#pragma once

// The camera model with every service faked, on a ManualExecutor: fake
// cameras, settings and keyring in memory, counting preview sinks, and the
// imaging components on the manual executor so detections and background
// treatments run when the test runs the executor.

#include <memory>
#include <vector>

#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_model_services.h"

namespace lumenhollow::test {

// Keeps every frame it is asked about.
class RecordingFaceBackend final : public hollowkit::FaceDetectorBackend {
public:
    hollowkit::Result<std::vector<hollowkit::NormalizedRect>, std::string> detect(
        const hollowkit::VideoFrame& frame) override {
        std::lock_guard guard(mutex_);
        frames_.push_back(frame);
        return std::vector<hollowkit::NormalizedRect>{};
    }
    std::vector<hollowkit::VideoFrame> frames() const {
        std::lock_guard guard(mutex_);
        return frames_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<hollowkit::VideoFrame> frames_;  // guarded by mutex_
};

struct ModelHarness : FakeModelServices {
    std::shared_ptr<CountingVideoSink> displayLayer = std::make_shared<CountingVideoSink>();
    std::shared_ptr<CountingVideoSink> notchLayer = std::make_shared<CountingVideoSink>();
    RecordingFaceBackend* faceBackend = nullptr;               // owned by the detector
    hollowkit::FakeSegmentationBackend* segmentation = nullptr;  // owned by the preview
    // Not made yet, and private to this harness: a test that makes it leaves
    // nothing behind for the next one.
    hollowkit::testsupport::TempDir scratch;
    std::filesystem::path outputFolder = scratch.path() / "absent" / "Lumenhollow";
    std::shared_ptr<CameraModel> model;

    CameraModelServices services() {
        return FakeModelServices::services(
            displayLayer, notchLayer, outputFolder,
            fakeImaging(
                main,
                [this] {
                    auto backend = std::make_unique<RecordingFaceBackend>();
                    faceBackend = backend.get();
                    return backend;
                },
                [this](hollowkit::FakeSegmentationBackend& backend) { segmentation = &backend; }));
    }

    CameraModel& create() {
        model = CameraModel::create(services());
        return *model;
    }

    // The camera the model uses now.
    std::shared_ptr<FakeCamera> camera() const { return cameras.latest(); }
    const PublishedState& state() const { return model->state(); }

    // Creates the model, starts its camera as the application does, and
    // runs what that posts.
    CameraModel& createAndStart() {
        create();
        model->camera().start();
        main.runUntilIdle();
        return *model;
    }

    void emit(hollowkit::CameraEvent event) {
        camera()->emit(std::move(event));
        main.runUntilIdle();
    }
};

inline hollowkit::CameraStats picture(int width, int height, bool hasPicture = true) {
    hollowkit::CameraStats stats;
    stats.hasPicture = hasPicture;
    stats.framesPerSecond = 30;
    stats.resolution = hollowkit::VideoDimensions{width, height};
    return stats;
}

}  // namespace lumenhollow::test
