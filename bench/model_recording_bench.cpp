// Recording 1920x1080 HEVC at 30 frames a second through the camera model
// (a look selected, the main window's preview attached, the camera
// delivering from its own thread) against the library's MovieRecorder alone
// fed the same frames at the same pace, in the same run. Both use the
// application's real-time writer, which drops a frame rather than wait.
//
// BM_ModelRecordingVsRecorder reports, for each side:
//   *_delivered        frames the camera (or the feeder) handed over
//   *_written          frames the movie took
//   *_cpu_ms_per_frame CPU time of the whole process / frames delivered,
//                      from the start of the recording to the saved file
//   *_cpu_ms_per_written the same CPU time / frames written: a side that
//                      drops more frames also encodes fewer
//   overhead_pct       the model's CPU per delivered frame over the
//                      recorder's, in %
// and the same for the model with no look (plain_*), which tells the look's
// share from the rest of the model's path.
// BM_StopToVideoSaved records a movie through the model (60 s unless
// HK_RECBENCH_MOVIE_SECONDS says otherwise) and reports the time from Record
// being pressed to stop until "Video saved" is shown (stop_to_saved_ms),
// the camera still delivering meanwhile, as it does in the application.
// HK_RECBENCH_SECONDS sets the comparison's length (default 20 s).
//
// Run it with as many CPUs as the target has, e.g. `taskset -c 0,1`.

#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "../tests/model/recording_harness.h"
#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/recording/movie_recorder.h"
#include "lumenhollow/model/movie_sample_recorder.h"

namespace {

using hollowkit::TimePoint;
using hollowkit::VideoFrame;
using lumenhollow::CameraModel;
using lumenhollow::FakeCamera;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrameRate = 30;
constexpr int kDistinctFrames = 10;

using benchsupport::cpuSeconds;
using benchsupport::envSeconds;

// Distinct moving pictures with texture, like a camera's.
std::vector<VideoFrame> makeFrames() {
    std::vector<VideoFrame> frames;
    uint32_t seed = 12345;
    for (int index = 0; index < kDistinctFrames; ++index) {
        auto frame = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::nv12, kWidth, kHeight);
        for (int y = 0; y < kHeight; ++y) {
            auto row = frame.row(0, y);
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                row[static_cast<size_t>(x)] =
                    static_cast<uint8_t>(32 + ((x / 4 + y / 4 + index * 6) % 160) + (seed >> 30));
            }
        }
        for (int y = 0; y < kHeight / 2; ++y) {
            auto row = frame.row(1, y);
            for (size_t i = 0; i < row.size(); ++i) {
                row[i] = static_cast<uint8_t>(100 + ((static_cast<int>(i) / 8 + y / 8 + index) % 56));
            }
        }
        frames.push_back(std::move(frame).freeze(TimePoint{}));
    }
    return frames;
}

// A warm look: a 33-point cube lifting red and lowering blue.
hollowkit::ColorLUT warmLook() {
    constexpr int n = 33;
    std::string cube = "LUT_3D_SIZE 33\n";
    for (int b = 0; b < n; ++b) {
        for (int g = 0; g < n; ++g) {
            for (int r = 0; r < n; ++r) {
                const double scale = 1.0 / (n - 1);
                cube += std::to_string(std::min(1.0, r * scale * 1.08)) + " " + std::to_string(g * scale) + " " +
                        std::to_string(b * scale * 0.9) + "\n";
            }
        }
    }
    auto look = hollowkit::ColorLUT::parseCube(cube, "warm", "Warm");
    if (!look) std::abort();
    return *look;
}

struct Figures {
    uint64_t delivered = 0;
    uint64_t written = 0;
    double cpuSeconds = 0;
    double stopToSavedMs = 0;
};

std::filesystem::path benchFolder(const char* name) {
    return std::filesystem::temp_directory_path() /
           ("hk-model-recording-bench-" + std::to_string(::getpid())) / name;
}

Figures recordAlone(const std::vector<VideoFrame>& frames, double seconds) {
    const auto folder = benchFolder("alone");
    std::filesystem::create_directories(folder);
    hollowkit::ManualExecutor main;
    Figures figures;
    const double cpuBefore = cpuSeconds();
    {
        hollowkit::MovieRecorder recorder(folder / "alone.mov", hollowkit::VideoCodec::hevc, std::nullopt, false,
                                          main);
        const auto count = static_cast<uint64_t>(seconds * kFrameRate);
        const TimePoint start = hollowkit::Clock::system().now();
        for (uint64_t i = 0; i < count; ++i) {
            const TimePoint due = start + std::chrono::nanoseconds(static_cast<int64_t>(i) * 1'000'000'000 / kFrameRate);
            std::this_thread::sleep_until(due);
            recorder.appendVideo(frames[i % kDistinctFrames].withPts(due));
        }
        figures.delivered = count;
        bool done = false;
        const auto stopAt = std::chrono::steady_clock::now();
        recorder.finish(std::nullopt, [&](auto) { done = true; });
        main.waitFor([&] { return done; }, std::chrono::minutes(5));
        figures.stopToSavedMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopAt).count();
        figures.written = recorder.stats().videoWritten;
    }
    figures.cpuSeconds = cpuSeconds() - cpuBefore;
    std::filesystem::remove_all(folder.parent_path());
    return figures;
}

Figures recordThroughModel(const std::vector<VideoFrame>& frames, const std::optional<hollowkit::ColorLUT>& look,
                           double seconds) {
    lumenhollow::test::ModelHarness h;
    h.outputFolder = benchFolder("model");
    h.cameras.setPocketConnected(true);  // the USB camera: recorded here, not on its card
    auto preview = std::make_shared<lumenhollow::test::CountOnlySink>();
    lumenhollow::CameraModelServices services = h.services();
    // The application's frame processor, sized by the machine.
    services.imaging.processor = [] { return std::make_shared<hollowkit::FrameProcessor>(); };
    services.displayLayer = preview;
    services.notchDisplayLayer = preview;
    h.model = CameraModel::create(std::move(services));
    CameraModel& model = *h.model;
    model.camera().start();
    h.main.runUntilIdle();
    h.emit(hollowkit::CameraEvent::stats(lumenhollow::test::picture(kWidth, kHeight)));
    if (look) model.setSelectedLUT(*look);
    model.setCountdownSeconds(0);
    h.main.runUntilIdle();

    Figures figures;
    const double cpuBefore = cpuSeconds();
    model.toggleRecording();
    auto movie = std::dynamic_pointer_cast<lumenhollow::MovieSampleRecorder>(model.tap().recorder());
    if (!movie) std::abort();
    const std::shared_ptr<hollowkit::MovieRecorder> recorder = movie->movie();
    movie.reset();
    auto camera = h.camera();
    std::optional<TimePoint> base;
    camera->startFrames(kFrameRate, [&](uint64_t index) {
        if (!base) base = std::chrono::steady_clock::now();
        return frames[index % kDistinctFrames].withPts(
            *base + std::chrono::nanoseconds(static_cast<int64_t>(index) * 1'000'000'000 / kFrameRate));
    });
    const auto count = static_cast<uint64_t>(seconds * kFrameRate);
    h.main.waitFor([&] { return camera->framesDelivered() >= count; }, std::chrono::hours(1));
    figures.delivered = camera->framesDelivered();
    bool saved = false;
    const auto watch = model.addObserver([&](lumenhollow::Field field) {
        if (field == lumenhollow::Field::notice && model.state().notice == "Video saved") saved = true;
    });
    const auto stopAt = std::chrono::steady_clock::now();
    model.toggleRecording();
    h.main.waitFor([&] { return saved; }, std::chrono::minutes(5));
    figures.stopToSavedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stopAt).count();
    figures.cpuSeconds = cpuSeconds() - cpuBefore;
    camera->stopFrames();
    model.removeObserver(watch);
    figures.written = recorder->stats().videoWritten;
    h.model.reset();
    h.main.runUntilIdle();
    std::filesystem::remove_all(h.outputFolder.parent_path());
    return figures;
}

void BM_ModelRecordingVsRecorder(benchmark::State& state) {
    const double seconds = envSeconds("HK_RECBENCH_SECONDS", 20);
    const auto frames = makeFrames();
    const auto look = warmLook();
    Figures alone;
    Figures model;
    Figures plain;
    for (auto _ : state) {
        alone = recordAlone(frames, seconds);
        model = recordThroughModel(frames, look, seconds);
        plain = recordThroughModel(frames, std::nullopt, seconds);
    }
    const auto perFrameMs = [](const Figures& f) {
        return f.delivered ? f.cpuSeconds * 1000.0 / static_cast<double>(f.delivered) : 0.0;
    };
    const auto report = [&](const std::string& side, const Figures& f) {
        state.counters[side + "_delivered"] = static_cast<double>(f.delivered);
        state.counters[side + "_written"] = static_cast<double>(f.written);
        state.counters[side + "_cpu_ms_per_frame"] = perFrameMs(f);
        state.counters[side + "_cpu_ms_per_written"] =
            f.written ? f.cpuSeconds * 1000.0 / static_cast<double>(f.written) : 0.0;
    };
    report("recorder", alone);
    report("model", model);
    report("plain", plain);
    state.counters["overhead_pct"] =
        perFrameMs(alone) > 0 ? (perFrameMs(model) / perFrameMs(alone) - 1.0) * 100.0 : 0.0;
}
BENCHMARK(BM_ModelRecordingVsRecorder)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_StopToVideoSaved(benchmark::State& state) {
    const double seconds = envSeconds("HK_RECBENCH_MOVIE_SECONDS", 60);
    const auto frames = makeFrames();
    const auto look = warmLook();
    Figures model;
    for (auto _ : state) model = recordThroughModel(frames, look, seconds);
    state.counters["movie_seconds"] = seconds;
    state.counters["delivered"] = static_cast<double>(model.delivered);
    state.counters["written"] = static_cast<double>(model.written);
    state.counters["stop_to_saved_ms"] = model.stopToSavedMs;
}
BENCHMARK(BM_StopToVideoSaved)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
