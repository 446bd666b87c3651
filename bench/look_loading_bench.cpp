// The camera model's main executor while imported looks are read, as the
// application runs it: the looks on the model's own queue, the main executor
// run by this program with each of its tasks timed.
//
// BM_StartWithStoredLooks/points/count: a launch with `count` stored looks of
// `points` per axis, the first of them the stored choice, until every look
// that fits the list's memory has arrived and the choice is applied.
// BM_ImportLook/points: one look imported through the chooser while the
// camera delivers 30 frames a second, until it is in the list and selected.
// Each reports:
//   create_ms        main executor time of creating the model (the window
//                    and the live picture wait for it)
//   longest_main_ms  the longest single main-executor task until then: the
//                    longest the window could not answer
//   main_busy_ms     all main-executor tasks together
//   ready_ms         from the start until the looks were in
//   looks            looks in the list then
//   peak_rss_mb      the process's peak resident memory so far
// The look files (".cube" text, 27 bytes an entry; 256 points is 453 MB)
// are written once per size to a temporary folder.

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/test_support.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/testing/fake_camera.h"
#include "lumenhollow/testing/fake_file_picker.h"
#include "lumenhollow/testing/fake_model_services.h"

namespace {

namespace fs = std::filesystem;
using namespace lumenhollow;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double peakRssMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// One ".cube" file per size, written on first use and kept for the run.
const std::string& cubeFile(int points) {
    static hollowkit::testsupport::TempDir folder;
    static std::map<int, std::string> written;
    auto found = written.find(points);
    if (found != written.end()) return found->second;
    const std::string path = folder.file("look-" + std::to_string(points) + ".cube");
    std::FILE* file = std::fopen(path.c_str(), "w");
    std::fprintf(file, "TITLE \"bench\"\nLUT_3D_SIZE %d\n", points);
    const double step = 1.0 / (points - 1);
    for (int b = 0; b < points; ++b) {
        for (int g = 0; g < points; ++g) {
            for (int r = 0; r < points; ++r) std::fprintf(file, "%.6f %.6f %.6f\n", r * step, g * step, b * step);
        }
    }
    std::fclose(file);
    return written.emplace(points, path).first->second;
}

// `count` paths naming distinct files of the same look (hard links, so the
// disk holds one copy).
std::vector<std::string> cubeFiles(int points, int count, const fs::path& folder) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const fs::path link = folder / ("look-" + std::to_string(i) + ".cube");
        fs::create_hard_link(cubeFile(points), link);
        paths.push_back(link.string());
    }
    return paths;
}

struct MainTimes {
    double longestMs = 0;
    double busyMs = 0;
};

// Runs the main executor's tasks as they come, each timed, until `done`.
bool runUntil(hollowkit::ManualExecutor& main, const std::function<bool()>& done, MainTimes& times) {
    const auto deadline = Clock::now() + std::chrono::minutes(5);
    while (!done()) {
        const auto start = Clock::now();
        if (main.runOne()) {
            const double ms = msSince(start);
            times.longestMs = std::max(times.longestMs, ms);
            times.busyMs += ms;
        } else if (Clock::now() > deadline) {
            return false;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

struct Rig : FakeModelServices {
    // Only the last frame is kept.
    std::shared_ptr<CountingVideoSink> display = std::make_shared<CountingVideoSink>(false);
    FakeFilePicker picker;
    hollowkit::testsupport::TempDir scratch;
    std::shared_ptr<CameraModel> model;

    void create() {
        CameraModelServices with = services(display, display, scratch.path() / "Lumenhollow", fakeImaging(main));
        // The model's own queue, as in the application.
        with.imaging.lookQueue = nullptr;
        with.filePicker = &picker;
        model = CameraModel::create(std::move(with));
    }
};

void report(benchmark::State& state, double createMs, const MainTimes& times, double readyMs, size_t looks) {
    state.counters["create_ms"] = createMs;
    state.counters["longest_main_ms"] = times.longestMs;
    state.counters["main_busy_ms"] = times.busyMs;
    state.counters["ready_ms"] = readyMs;
    state.counters["looks"] = static_cast<double>(looks);
    state.counters["peak_rss_mb"] = peakRssMegabytes();
}

void BM_StartWithStoredLooks(benchmark::State& state) {
    const auto points = static_cast<int>(state.range(0));
    const auto count = static_cast<int>(state.range(1));
    const int64_t tableBytes = int64_t{points} * points * points * 16;
    const auto fits = static_cast<size_t>(std::min<int64_t>(count, LookListLimits{}.maxTableBytes / tableBytes));
    cubeFile(points);
    for (auto _ : state) {
        Rig rig;
        const std::vector<std::string> paths = cubeFiles(points, count, rig.scratch.path());
        rig.settings.set("customLUTPaths", StringArray(paths));
        rig.settings.set("selectedLUT", paths.front());
        const auto start = Clock::now();
        rig.create();
        const double createMs = msSince(start);
        rig.model->camera().start();
        MainTimes times;
        const bool ok = runUntil(
            rig.main,
            [&] { return rig.model->state().customLUTs.size() == fits && rig.model->state().selectedLUT; }, times);
        if (!ok) state.SkipWithError("the looks did not arrive");
        report(state, createMs, times, msSince(start), rig.model->state().customLUTs.size());
    }
}

void BM_ImportLook(benchmark::State& state) {
    const auto points = static_cast<int>(state.range(0));
    const std::string file = cubeFile(points);
    for (auto _ : state) {
        Rig rig;
        const auto start = Clock::now();
        rig.create();
        const double createMs = msSince(start);
        rig.model->camera().start();
        rig.main.runUntilIdle();
        rig.cameras.latest()->startFrames(30, [](uint64_t) { return FakeCamera::makeFrame(1280, 720); });
        MainTimes times;
        const auto importStart = Clock::now();
        rig.model->importLUT();
        rig.picker.choose({file});
        const bool ok = runUntil(
            rig.main, [&] { return rig.model->state().selectedLUT.has_value(); }, times);
        if (!ok) state.SkipWithError("the look did not arrive");
        rig.cameras.latest()->stopFrames();
        report(state, createMs, times, msSince(importStart), rig.model->state().customLUTs.size());
    }
}

BENCHMARK(BM_StartWithStoredLooks)
    ->Args({65, 5})
    ->Args({256, 5})
    ->ArgNames({"points", "count"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(BM_ImportLook)->Arg(65)->Arg(256)->ArgNames({"points"})->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
