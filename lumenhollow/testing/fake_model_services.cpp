#include "lumenhollow/testing/fake_model_services.h"

#include "hollowkit/imaging/background_preview.h"
#include "hollowkit/imaging/face_detector.h"
#include "hollowkit/imaging/face_follower.h"
#include "hollowkit/imaging/frame_processor.h"
#include "hollowkit/testing/fake_face_detector_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"

namespace lumenhollow {

ImagingFactory fakeImaging(hollowkit::MainExecutor& main, FaceBackendMaker faceBackend,
                           SegmentationSeen segmentationSeen) {
    if (!faceBackend) faceBackend = [] { return std::make_unique<hollowkit::FakeFaceDetectorBackend>(); };
    ImagingFactory imaging;
    imaging.processor = [] {
        hollowkit::FrameProcessor::Options options;
        options.threadCount = 1;
        return std::make_shared<hollowkit::FrameProcessor>(std::move(options));
    };
    imaging.backgroundPreview = [&main, seen = std::move(segmentationSeen)] {
        auto backend = std::make_unique<hollowkit::FakeSegmentationBackend>();
        if (seen) seen(*backend);
        return std::make_shared<hollowkit::BackgroundPreview>(std::move(backend), main);
    };
    imaging.faceDetector = [&main, make = std::move(faceBackend)](double rate) {
        return std::make_shared<hollowkit::FaceDetector>(rate, make(), main);
    };
    imaging.faceFollower = [&main] { return std::make_unique<hollowkit::FaceFollower>(main); };
    imaging.lookQueue = &main;
    return imaging;
}

}  // namespace lumenhollow
