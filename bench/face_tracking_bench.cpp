// Face tracking in real time: the camera model on a LoopExecutor with its
// real detector (the Haar cascade on its own queue) and follower (its own
// queue), steering a SceneCamera that films a photograph of a person at
// 1920x1080, 30 frames a second, on its own thread. The face starts low and
// to the left; tracking starts once the picture is live.
//
// BM_FaceTrackingClosedLoop, one run per repetition, wall-clock seconds;
// the time column is settle_s:
// - settle_s: from starting tracking to the moment from which the face box
//   stayed within the follower's start threshold (the error at which a
//   resting follower would move again) for held_window_s without a miss;
//   first_face_s: to the first face box, first_error: its error.
// - detect_per_s: detections a second while tracking (the detector's rate
//   is a ceiling; frames come at 30 a second).
// - detect_wall_ms, detect_cpu_ms: per detection, around the backend's
//   detect() (the cascade's own calling thread; OpenCV's worker threads, if
//   it uses any, are not in the CPU figure, BM_HaarDetect1080p has them).
// - camera_fps: frames the camera delivered a second while tracking (below
//   30 when rendering and everything else do not fit the cores).
// - delivered, displayed, dropped: frames the camera handed to the model vs
//   frames that reached the main window's sink, over the whole session
//   (the camera's thread is joined and the main queue drained before they
//   are read); display_lag_ms: the worst time from a frame's capture to its
//   sink while tracking.
//
// BM_HaarDetect1080p: the backend alone on one 1080p picture of the start
// pose, with the CPU time of every thread of the process (the CPU column)
// and of the calling thread alone (caller_cpu_ms).
//
// Run pinned (`taskset -c 0,1`) and unpinned to compare.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "hollowkit/base/loop_executor.h"
#include "hollowkit/imaging/framing_geometry.h"
#include "hollowkit/imaging/haar_face_detector_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/simulation/scene_camera.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/fake_app_shell.h"
#include "lumenhollow/testing/fake_desktop.h"
#include "lumenhollow/testing/fake_disk_space.h"
#include "lumenhollow/testing/fake_secret_store.h"
#include "lumenhollow/testing/fake_secure_random.h"
#include "lumenhollow/testing/memory_settings_store.h"

namespace lumenhollow {
namespace {

using hollowkit::LensPose;
using hollowkit::NormalizedRect;
using hollowkit::SceneCamera;
using Steady = std::chrono::steady_clock;

constexpr LensPose kStartPose{12, 7, 100};
constexpr auto kHeldWindow = std::chrono::seconds(1);
constexpr auto kLiveTimeout = std::chrono::seconds(10);
constexpr auto kSettleTimeout = std::chrono::seconds(30);

const std::shared_ptr<const hollowkit::ScenePanorama>& scene() {
    static const auto built = hollowkit::ScenePanorama::build();
    return built;
}

bool facesAvailable() {
    const auto& hung = scene()->hungPictures();
    return std::find(hung.begin(), hung.end(), hollowkit::ScenePanorama::kFacePhotoPath) != hung.end() &&
           std::filesystem::exists(hollowkit::HaarFaceDetectorBackend::kDefaultCascadePath);
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The detector's error measure: the larger of the two axes' distances.
double framingError(const NormalizedRect& face) {
    return std::max(std::abs(face.midX() - hollowkit::kFramingTargetX),
                    std::abs(face.midY() - hollowkit::kFramingTargetY));
}

// The real backend, timed from outside.
struct DetectionTimes {
    std::atomic<int64_t> detections{0};
    std::atomic<int64_t> withFace{0};
    std::atomic<int64_t> wallNs{0};
    std::atomic<int64_t> cpuNs{0};
};

class TimedBackend final : public hollowkit::FaceDetectorBackend {
public:
    explicit TimedBackend(DetectionTimes& times) : times_(times) {}

    hollowkit::Result<std::vector<NormalizedRect>, std::string> detect(const hollowkit::VideoFrame& frame) override {
        const double cpuBefore = threadCpuSeconds();
        const auto wallBefore = Steady::now();
        auto result = inner_.detect(frame);
        const auto wall = Steady::now() - wallBefore;
        const double cpu = threadCpuSeconds() - cpuBefore;
        times_.detections.fetch_add(1);
        if (result && !result->empty()) times_.withFace.fetch_add(1);
        times_.wallNs.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count());
        times_.cpuNs.fetch_add(static_cast<int64_t>(cpu * 1e9));
        return result;
    }

private:
    hollowkit::HaarFaceDetectorBackend inner_;
    DetectionTimes& times_;
};

// The main window: counts frames, and the worst capture-to-sink time of
// frames taken after `measureFrom`. Main executor only.
class LagSink final : public VideoSink {
public:
    explicit LagSink(hollowkit::Executor& main) : main_(main) {}
    void enqueue(const hollowkit::VideoFrame& frame) override {
        ++enqueued;
        if (measureFrom && frame.pts() >= *measureFrom) worstLag = std::max(worstLag, main_.clock().now() - frame.pts());
    }
    bool hasFailed() const override { return false; }
    void flush() override {}
    void flushRemovingImage() override {}

    int64_t enqueued = 0;
    std::optional<hollowkit::TimePoint> measureFrom;
    hollowkit::Duration worstLag{};

private:
    hollowkit::Executor& main_;
};

class SceneCameraFactory final : public CameraFactory {
public:
    explicit SceneCameraFactory(hollowkit::MainExecutor& main) : main_(main) {}
    bool isPocketConnected() override { return true; }
    std::shared_ptr<hollowkit::PocketCamera> makeCamera(ConnectionMode, const std::string&,
                                                        const std::optional<hollowkit::HomeNetwork>&) override {
        SceneCamera::Options options;
        options.format = {1920, 1080, 30};
        options.moveDegreesPerSecond = 60;
        options.start = kStartPose;
        options.tone = false;
        auto camera = std::make_shared<SceneCamera>(main_, scene(), options);
        latest_ = camera;
        return camera;
    }
    std::shared_ptr<SceneCamera> latest() const { return latest_.lock(); }

private:
    hollowkit::MainExecutor& main_;
    std::weak_ptr<SceneCamera> latest_;
};

// When the face box entered the tolerance and has stayed there since.
// Main executor only.
struct HoldWatch {
    std::optional<hollowkit::TimePoint> insideSince;
    std::optional<hollowkit::TimePoint> firstFace;
    double firstError = 0;

    void observe(const std::optional<NormalizedRect>& face, hollowkit::TimePoint now, double tolerance) {
        if (face && !firstFace) {
            firstFace = now;
            firstError = framingError(*face);
        }
        if (face && framingError(*face) <= tolerance) {
            if (!insideSince) insideSince = now;
        } else {
            insideSince.reset();
        }
    }
};

struct Session {
    hollowkit::LoopExecutor main;  // first: runs until the rest has gone
    MemorySettingsStore settings;
    FakeSecretStore secrets;
    FakeSecureRandom random;
    FakeDiskSpace disk;
    SceneCameraFactory cameras{main};
    FakeAppShell shell;
    FakeDesktop desktop;
    DetectionTimes times;
    std::shared_ptr<LagSink> display = std::make_shared<LagSink>(main);
    std::shared_ptr<LagSink> notch = std::make_shared<LagSink>(main);
    std::shared_ptr<CameraModel> model;  // main executor only
    HoldWatch hold;                      // main executor only

    Session() {
        ImagingFactory imaging;
        imaging.backgroundPreview = [this] {
            return std::make_shared<hollowkit::BackgroundPreview>(
                std::make_unique<hollowkit::FakeSegmentationBackend>(), main);
        };
        imaging.faceDetector = [this](double rate) {
            return std::make_shared<hollowkit::FaceDetector>(rate, std::make_unique<TimedBackend>(times));
        };
        main.sync([this, imaging] {
            model = CameraModel::create(CameraModelServices{main, settings, secrets, random, disk, cameras, shell,
                                                            desktop, display, notch,
                                                            "/nonexistent-parent/Lumenhollow", imaging});
            model->addObserver([this](Field field) {
                if (field != Field::trackedFace) return;
                hold.observe(model->state().trackedFace, main.clock().now(),
                             hollowkit::FollowerTuning{}.startThreshold);
            });
            model->camera().start();
        });
    }
    ~Session() {
        if (const std::shared_ptr<SceneCamera> camera = cameras.latest()) camera->stop({});
        main.sync([this] { model.reset(); });
    }

    template <typename Task>
    auto onMain(Task task) {
        std::optional<std::invoke_result_t<Task>> result;
        main.sync([&] { result = task(); });
        return std::move(*result);
    }

    // Polls `done` on the main executor until it holds or `limit` passes.
    template <typename Done>
    bool waitFor(Done done, Steady::duration limit) {
        const auto end = Steady::now() + limit;
        while (!onMain(done)) {
            if (Steady::now() >= end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
};

void BM_FaceTrackingClosedLoop(benchmark::State& state) {
    if (!facesAvailable()) {
        state.SkipWithError("the face photograph (opencv-doc) or the cascade (opencv-data) is missing");
        return;
    }
    for (auto _ : state) {
        Session session;
        if (!session.waitFor([&] { return session.model->state().stats && session.model->state().stats->hasPicture; },
                             kLiveTimeout)) {
            state.SkipWithError("the picture never went live");
            return;
        }
        const std::shared_ptr<SceneCamera> camera = session.cameras.latest();
        if (!camera) {
            state.SkipWithError("no camera was made");
            return;
        }
        uint64_t deliveredAtStart = 0;
        const hollowkit::TimePoint start = session.onMain([&] {
            const hollowkit::TimePoint now = session.main.clock().now();
            session.display->measureFrom = now;
            session.model->startFaceTracking();
            deliveredAtStart = camera->framesDelivered();
            return now;
        });
        const auto wallStart = Steady::now();
        const bool held = session.waitFor(
            [&] {
                const auto& since = session.hold.insideSince;
                return since && session.main.clock().now() - *since >= kHeldWindow;
            },
            kSettleTimeout);
        const double trackingSeconds = std::chrono::duration<double>(Steady::now() - wallStart).count();
        const auto [settledAt, firstFace, firstError, lag] = session.onMain([&] {
            return std::tuple(session.hold.insideSince.value_or(start), session.hold.firstFace.value_or(start),
                              session.hold.firstError, session.display->worstLag);
        });
        const uint64_t deliveredWhileTracking = camera->framesDelivered() - deliveredAtStart;

        // Every frame delivered has been posted once the camera's thread is
        // joined; a task after them runs once they have been shown.
        camera->stop({});
        const uint64_t delivered = camera->framesDelivered();
        const int64_t displayed = session.onMain([&] { return session.display->enqueued; });

        if (!held) {
            state.SkipWithError("the face was not held within the tolerance");
            return;
        }
        const double detections = static_cast<double>(std::max<int64_t>(1, session.times.detections.load()));
        const double settle = std::chrono::duration<double>(settledAt - start).count();
        state.SetIterationTime(settle);
        state.counters["settle_s"] = settle;
        state.counters["held_window_s"] = std::chrono::duration<double>(kHeldWindow).count();
        state.counters["first_face_s"] = std::chrono::duration<double>(firstFace - start).count();
        state.counters["first_error"] = firstError;
        state.counters["detections"] = static_cast<double>(session.times.detections.load());
        state.counters["with_face"] = static_cast<double>(session.times.withFace.load());
        state.counters["detect_per_s"] = static_cast<double>(session.times.detections.load()) / trackingSeconds;
        state.counters["detect_wall_ms"] = static_cast<double>(session.times.wallNs.load()) / 1e6 / detections;
        state.counters["detect_cpu_ms"] = static_cast<double>(session.times.cpuNs.load()) / 1e6 / detections;
        state.counters["camera_fps"] = static_cast<double>(deliveredWhileTracking) / trackingSeconds;
        state.counters["delivered"] = static_cast<double>(delivered);
        state.counters["displayed"] = static_cast<double>(displayed);
        state.counters["dropped"] = static_cast<double>(static_cast<int64_t>(delivered) - displayed);
        state.counters["display_lag_ms"] = std::chrono::duration<double, std::milli>(lag).count();
    }
}
BENCHMARK(BM_FaceTrackingClosedLoop)->Iterations(1)->Repetitions(5)->Unit(benchmark::kSecond)->UseManualTime();

// The cascade on the start pose's picture, every thread's CPU counted.
void BM_HaarDetect1080p(benchmark::State& state) {
    if (!facesAvailable()) {
        state.SkipWithError("the face photograph (opencv-doc) or the cascade (opencv-data) is missing");
        return;
    }
    const hollowkit::VirtualLens lens = scene()->lens();
    const hollowkit::VideoFrame frame =
        scene()->render(lens.window(kStartPose, 1920, 1080), 1920, 1080, hollowkit::TimePoint{});
    hollowkit::HaarFaceDetectorBackend backend;
    (void)backend.detect(frame);  // loads the cascades
    int64_t faces = 0;
    double callerCpu = 0;
    for (auto _ : state) {
        const double before = threadCpuSeconds();
        auto result = backend.detect(frame);
        callerCpu += threadCpuSeconds() - before;
        if (result) faces += static_cast<int64_t>(result->size());
        benchmark::DoNotOptimize(result);
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["faces_per_detection"] = static_cast<double>(faces) / runs;
    // The rest of the CPU column ran on OpenCV's worker threads.
    state.counters["caller_cpu_ms"] = callerCpu * 1e3 / runs;
}
BENCHMARK(BM_HaarDetect1080p)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lumenhollow
