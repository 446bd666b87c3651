// The camera model's frame path per 1920x1080 frame with no look, no
// treatment and counting sinks: the nanoseconds and heap allocations one
// frame costs from the camera's handler to the main window's sink, and the
// capture tap's lock hold time while frames arrive at 60 fps and the main
// thread keeps setting recorders and frame requests.
//
// Allocations are counted at malloc for the whole process. The
// tap's hold time is measured by wrapping pthread_mutex_lock and
// pthread_mutex_unlock at link time for this program only (--wrap): every
// mutex held while a thread is inside a CaptureTap call is timed, and the
// tap's lock is the only one taken there. Production code carries no
// instrumentation.

#include <benchmark/benchmark.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "hollowkit/base/loop_executor.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "hollowkit/testing/allocation_count.h"
#include "hollowkit/testing/fake_face_detector_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "lumenhollow/model/frame_path.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_camera.h"

// --- Lock hold timing: the linker sends this program's calls here.

extern "C" int __real_pthread_mutex_lock(pthread_mutex_t* mutex);
extern "C" int __real_pthread_mutex_unlock(pthread_mutex_t* mutex);

namespace {
thread_local bool tInTap = false;
thread_local std::chrono::steady_clock::time_point tLockedAt;
std::mutex gHoldsLock;  // never itself timed: taken outside tap calls
std::vector<int64_t> gHoldNs;

// Runs a tap call with its lock timed.
template <typename Call>
void timedTapCall(Call&& call) {
    tInTap = true;
    call();
    tInTap = false;
}
}  // namespace

extern "C" int __wrap_pthread_mutex_lock(pthread_mutex_t* mutex) {
    const int result = __real_pthread_mutex_lock(mutex);
    if (tInTap) tLockedAt = std::chrono::steady_clock::now();
    return result;
}

extern "C" int __wrap_pthread_mutex_unlock(pthread_mutex_t* mutex) {
    if (tInTap) {
        const auto held = std::chrono::steady_clock::now() - tLockedAt;
        tInTap = false;  // the record's own lock is not a tap lock
        {
            std::lock_guard guard(gHoldsLock);
            gHoldNs.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(held).count());
        }
        tInTap = true;
    }
    return __real_pthread_mutex_unlock(mutex);
}

namespace {

using lumenhollow::AtomicFlag;
using lumenhollow::CaptureTap;
using lumenhollow::CountingVideoSink;
using lumenhollow::FakeCamera;
using lumenhollow::FramePath;

// A main executor that keeps posted tasks in a ring made up front and runs
// them when told, on the benchmark's thread, so what is counted per frame
// is the frame path's own work, not an executor's bookkeeping.
class RingExecutor final : public hollowkit::Executor {
public:
    explicit RingExecutor(size_t capacity) : tasks_(capacity) {}

    void post(hollowkit::Task task) override {
        tasks_[(head_ + count_++) % tasks_.size()] = std::move(task);
    }
    hollowkit::TaskId after(hollowkit::Duration, hollowkit::Task) override { return 0; }
    hollowkit::TaskId every(hollowkit::Duration, hollowkit::Task) override { return 0; }
    void cancel(hollowkit::TaskId) override {}
    bool isCurrent() const override { return true; }
    const hollowkit::Clock& clock() const override { return hollowkit::Clock::system(); }

    void runAll() {
        while (count_ > 0) {
            hollowkit::Task task = std::move(tasks_[head_]);
            head_ = (head_ + 1) % tasks_.size();
            --count_;
            task();
        }
    }

private:
    std::vector<hollowkit::Task> tasks_;
    size_t head_ = 0;
    size_t count_ = 0;
};

// The model's frame path objects as construction makes them, with fakes
// behind the detector and the background preview (both idle here).
struct PathParts {
    explicit PathParts(hollowkit::Executor& main)
        : parts{std::make_shared<hollowkit::FrameProcessor>(),
                std::make_shared<CaptureTap>(main.clock()),
                std::make_shared<hollowkit::FaceDetector>(15.0, std::make_unique<hollowkit::FakeFaceDetectorBackend>(),
                                                          main),
                std::make_shared<AtomicFlag>(false),
                display,
                notch,
                std::make_shared<hollowkit::BackgroundPreview>(
                    std::make_unique<hollowkit::FakeSegmentationBackend>(), main)} {}

    std::shared_ptr<CountingVideoSink> display = std::make_shared<CountingVideoSink>(false);
    std::shared_ptr<CountingVideoSink> notch = std::make_shared<CountingVideoSink>(false);
    FramePath::Parts parts;
};

void reportAllocations(benchmark::State& state, uint64_t allocations, int64_t frames) {
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / static_cast<double>(frames);
    state.SetItemsProcessed(frames);
}

// One frame through the path and its display task, all on this thread.
void BM_FramePathPerFrame(benchmark::State& state) {
    const bool islandOpen = state.range(0) != 0;
    RingExecutor main(64);
    PathParts parts(main);
    parts.parts.notchPreviewActive->set(islandOpen);
    const FramePath path(parts.parts, main);
    const hollowkit::VideoFrame frame = FakeCamera::makeFrame(1920, 1080);
    const uint64_t generation = path.displayGeneration();
    for (int i = 0; i < 16; ++i) path.handleVideo(frame, generation);  // warm: the ring and the sinks settle
    main.runAll();

    const uint64_t before = hollowkit::testsupport::allocationsInProcess.load();
    for (auto _ : state) {
        path.handleVideo(frame, generation);
        main.runAll();
    }
    const uint64_t allocations = hollowkit::testsupport::allocationsInProcess.load() - before;
    if (parts.display->last() == std::nullopt || !parts.display->last()->sharesPixelsWith(frame)) {
        state.SkipWithError("the frame did not reach the sink");
    }
    reportAllocations(state, allocations, state.iterations());
}
BENCHMARK(BM_FramePathPerFrame)->Arg(0)->Arg(1)->ArgName("island");

// The same with the real main executor on its own thread: what the camera's
// thread spends per frame, and every allocation of the process per frame,
// the executor's own included.
void BM_FramePathToLoopExecutor(benchmark::State& state) {
    hollowkit::LoopExecutor main;
    auto parts = std::make_unique<PathParts>(main);
    auto path = std::make_unique<FramePath>(parts->parts, main);
    const hollowkit::VideoFrame frame = FakeCamera::makeFrame(1920, 1080);
    uint64_t generation = 0;
    main.sync([&] { generation = path->displayGeneration(); });
    for (int i = 0; i < 16; ++i) path->handleVideo(frame, generation);
    main.sync([] {});

    const uint64_t before = hollowkit::testsupport::allocationsInProcess.load();
    for (auto _ : state) path->handleVideo(frame, generation);
    main.sync([] {});
    const uint64_t allocations = hollowkit::testsupport::allocationsInProcess.load() - before;
    int shown = 0;
    main.sync([&] { shown = parts->display->enqueued(); });
    if (shown != 16 + static_cast<int>(state.iterations())) state.SkipWithError("frames were lost");
    reportAllocations(state, allocations, state.iterations());
    main.sync([&] {
        path.reset();
        parts.reset();
    });
}
BENCHMARK(BM_FramePathToLoopExecutor);

// The tap's lock hold time over three seconds of a 60 fps camera with
// 100 sound chunks a second, while the main thread sets and clears a
// recorder and a frame request and reads the tap as the UI does, 60 times
// a second.
class NullRecorder final : public lumenhollow::SampleRecorder {
public:
    void appendVideo(const hollowkit::VideoFrame&) override { frames.fetch_add(1, std::memory_order_relaxed); }
    void appendAudio(const hollowkit::AudioChunk&) override {}
    std::atomic<int> frames{0};
};

int64_t percentile(std::vector<int64_t> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())))];
}

void BM_CaptureTapLockHoldAt60fps(benchmark::State& state) {
    using namespace std::chrono_literals;
    CaptureTap tap(hollowkit::Clock::system());
    const hollowkit::VideoFrame frame = FakeCamera::makeFrame(1920, 1080);
    const std::vector<float> samples(480 * 2, 0.1f);
    const hollowkit::AudioChunk chunk = hollowkit::AudioChunk::copyF32(samples, 48000, 2, {});
    {
        std::lock_guard guard(gHoldsLock);
        gHoldNs.clear();
        gHoldNs.reserve(4096);
    }
    for (auto _ : state) {
        std::atomic<bool> done{false};
        std::jthread camera([&] {
            auto next = std::chrono::steady_clock::now();
            for (int i = 0; i < 180; ++i) {
                timedTapCall([&] { tap.appendVideo(frame); });
                next += 16667us;
                std::this_thread::sleep_until(next);
            }
            done = true;
        });
        std::jthread sound([&] {
            auto next = std::chrono::steady_clock::now();
            while (!done) {
                timedTapCall([&] { tap.appendAudio(chunk); });
                next += 10ms;
                std::this_thread::sleep_until(next);
            }
        });
        auto recorder = std::make_shared<NullRecorder>();
        auto next = std::chrono::steady_clock::now();
        for (int round = 0; !done; ++round) {
            timedTapCall([&] {
                tap.setRecorder(round % 60 < 30 ? recorder : nullptr);
                if (tap.pendingFrameRequests() == 0) tap.addFrameRequest([](const hollowkit::VideoFrame&) {});
                benchmark::DoNotOptimize(tap.lastAudio());
                benchmark::DoNotOptimize(tap.recorder());
            });
            next += 16667us;
            std::this_thread::sleep_until(next);
        }
    }
    std::vector<int64_t> holds;
    {
        std::lock_guard guard(gHoldsLock);
        holds = gHoldNs;
    }
    state.counters["holds"] = static_cast<double>(holds.size());
    state.counters["p50_ns"] = static_cast<double>(percentile(holds, 0.50));
    state.counters["p99_ns"] = static_cast<double>(percentile(holds, 0.99));
    state.counters["max_ns"] = static_cast<double>(percentile(holds, 1.0));
}
BENCHMARK(BM_CaptureTapLockHoldAt60fps)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    hollowkit::installFfmpegLogging();
    hollowkit::applyMemorySettings();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
