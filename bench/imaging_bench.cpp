// Face detection and background preview speed: the two imaging paths that
// run on live frames besides the colour look.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>

#include "hollowkit/imaging/background_preview.h"
#include "hollowkit/imaging/background_treatment.h"
#include "hollowkit/imaging/bgra_frames.h"
#include "hollowkit/imaging/grabcut_segmentation_backend.h"
#include "hollowkit/imaging/haar_face_detector_backend.h"
#include "hollowkit/imaging/person_segmenter.h"
#include "hollowkit/testing/imaging_test_pictures.h"

namespace hollowkit {
namespace {

// Photographs from Debian's opencv-doc package: a face turned to the
// camera, and one turned away (nearly in profile) that the frontal cascade
// misses.
constexpr const char* kFacePhoto = "/usr/share/doc/opencv-doc/examples/data/messi5.jpg";
constexpr const char* kProfilePhoto = "/usr/share/doc/opencv-doc/examples/data/right06.jpg";

// The photograph filling a camera-shaped NV12 frame; null when it is missing.
VideoFrame photoFrame(const char* path, int width, int height) {
    const VideoFrame photo = std::filesystem::exists(path) ? loadImageFile(path) : VideoFrame{};
    return photo.isNull() ? VideoFrame{} : toNv12(filledTo(photo, width, height));
}

// Runs the backend over `frame`; the path it takes is checked once first so
// a changed picture or model cannot measure something else unnoticed.
void runFaceDetection(benchmark::State& state, const VideoFrame& frame, bool frontalHit) {
    if (frame.isNull()) {
        state.SkipWithError("the photograph is missing: install opencv-doc");
        return;
    }
    HaarFaceDetectorBackend::Options frontalOnly;
    frontalOnly.profileCascadePath.clear();
    auto frontal = HaarFaceDetectorBackend(frontalOnly).detect(frame);
    if (!frontal.has_value() || frontal.value().empty() != !frontalHit) {
        state.SkipWithError(frontalHit ? "the frontal cascade finds no face here" : "the frontal cascade finds a face here");
        return;
    }
    HaarFaceDetectorBackend backend;
    size_t faces = 0;
    for (auto _ : state) {
        auto result = backend.detect(frame);
        if (!result.has_value()) {
            state.SkipWithError(result.error().c_str());
            return;
        }
        faces = result.value().size();
    }
    state.counters["faces"] = static_cast<double>(faces);
}

// A face turned to the camera: the frontal cascade alone.
void BM_FaceDetectionFrontalHit(benchmark::State& state) {
    runFaceDetection(state, photoFrame(kFacePhoto, static_cast<int>(state.range(0)), static_cast<int>(state.range(1))),
                     true);
}
BENCHMARK(BM_FaceDetectionFrontalHit)->Args({640, 360})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();

// A face turned away: the frontal cascade misses, then the profile cascade
// searches the picture and its mirror image. The slowest detection.
void BM_FaceDetectionProfileSearch(benchmark::State& state) {
    runFaceDetection(state, photoFrame(kProfilePhoto, static_cast<int>(state.range(0)), static_cast<int>(state.range(1))),
                     false);
}
BENCHMARK(BM_FaceDetectionProfileSearch)->Args({640, 360})->Args({1920, 1080})->Unit(benchmark::kMillisecond)->UseRealTime();

// Submits one frame at a time to a running preview and waits for it to come
// back: frames per second through the whole treatment.
void BM_BackgroundPreview(benchmark::State& state) {
    const BubbleBackground background = static_cast<BubbleBackground>(state.range(0));
    const FigureScene scene = makeFigureScene(1920, 1080, PixelFormat::nv12);
    BackgroundPreview preview(std::make_unique<GrabCutSegmentationBackend>());
    preview.setStyle(BubbleStyle{BubbleCorner::bottomTrailing, BubbleSize::medium, BubbleShape::circle, background});
    preview.setFace(scene.face);

    std::mutex mutex;
    std::condition_variable delivered;
    size_t count = 0;
    bool treated = true;
    for (auto _ : state) {
        const size_t before = count;
        preview.submit(scene.frame, [&](const VideoFrame& frame) {
            {
                std::lock_guard lock(mutex);
                ++count;
                treated = treated && !frame.sharesPixelsWith(scene.frame);
            }
            delivered.notify_all();
        });
        std::unique_lock lock(mutex);
        delivered.wait(lock, [&] { return count > before; });
    }
    if (!treated) {
        state.SkipWithError("a frame came back untreated");
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BackgroundPreview)
    ->ArgName("background")
    ->Arg(static_cast<int>(BubbleBackground::blur))
    ->Arg(static_cast<int>(BubbleBackground::remove))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The parts of one preview frame at 1920×1080.
void BM_GrabCutMask(benchmark::State& state) {
    const FigureScene scene = makeFigureScene(1920, 1080);
    PersonSegmenter segmenter(std::make_unique<GrabCutSegmentationBackend>());
    for (auto _ : state) {
        benchmark::DoNotOptimize(segmenter.scaledMask(scene.frame, scene.face));
    }
}
BENCHMARK(BM_GrabCutMask)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ApplyBackground(benchmark::State& state) {
    const BubbleBackground background = static_cast<BubbleBackground>(state.range(0));
    const FigureScene scene = makeFigureScene(1920, 1080);
    WritableVideoFrame output = WritableVideoFrame::allocate(PixelFormat::bgra, 1920, 1080);
    for (auto _ : state) {
        benchmark::DoNotOptimize(applyBackground(scene.frame, &scene.truth, background, output));
    }
}
BENCHMARK(BM_ApplyBackground)
    ->ArgName("background")
    ->Arg(static_cast<int>(BubbleBackground::blur))
    ->Arg(static_cast<int>(BubbleBackground::remove))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Nv12ToBgra(benchmark::State& state) {
    const FigureScene scene = makeFigureScene(1920, 1080, PixelFormat::nv12);
    WritableVideoFrame output = WritableVideoFrame::allocate(PixelFormat::bgra, 1920, 1080);
    for (auto _ : state) {
        benchmark::DoNotOptimize(drawAsBgra(scene.frame, output));
    }
}
BENCHMARK(BM_Nv12ToBgra)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace hollowkit

