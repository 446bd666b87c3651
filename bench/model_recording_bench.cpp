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
// BM_LookRecordingVsCli/<codec> records through the model with the look, in
// real time, then has the `ffmpeg` command line put the same look (its lut3d
// filter, trilinear, on BGRA as ours) on the same frames and encode them with
// the same encoder settings, paced like a camera (-re):
//   model_delivered, model_written, model_cpu_ms_per_frame  as above
//   look_ms_per_frame     CPU of the look (the delivering thread and the row
//                         workers) per delivered frame
//   writer_ms_per_written CPU of the movie writer's thread per written frame
//   encoder_ms_per_written CPU of the encoder's threads per written frame
//                         (the three from thread CPU times, while the camera
//                         delivered)
//   cli_cpu_ms_per_frame  CPU of `ffmpeg` per frame it wrote
//   cli_late_s            how far the command line ended behind the pace
//                         (about 0 when it keeps up, growing when it cannot)
//   load1                 the machine's load average when the run began
// bench/look_recording_vs_cli.sh runs it interleaved and prints medians.
//
// Run it with as many CPUs as the target has, e.g. `taskset -c 0,1`.

#include <sched.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "camera_frames.h"
#include "../tests/model/recording_harness.h"
#include "hollowkit/base/command_runner.h"
#include "hollowkit/imaging/color_lut.h"
#include "hollowkit/media/video_codec.h"
#include "hollowkit/recording/movie_recorder.h"
#include "hollowkit/recording/encoder_threads.h"
#include "hollowkit/recording/x265_params.h"
#include "lumenhollow/model/movie_sample_recorder.h"
#include "raw_frames.h"

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

// A warm look: a 33-point cube lifting red and lowering blue.
std::string warmCube() {
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
    return cube;
}

hollowkit::ColorLUT warmLook() {
    auto look = hollowkit::ColorLUT::parseCube(warmCube(), "warm", "Warm");
    if (!look) std::abort();
    return *look;
}

int affinityCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

double loadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// Where a recording's CPU goes, from the threads' names: the look (the
// camera's delivering thread, which works the first band, and the row
// workers), the movie writer's thread (conversion into the encoder's planes,
// handing frames over, writing the file) and the encoder (its pool and frame
// threads start on the recorder's queue and carry its name).
struct StageCpu {
    double look = 0;
    double writer = 0;
    double encoder = 0;
};

// CPU seconds of each thread alive now, by thread id, with its name.
std::map<long, std::pair<std::string, double>> threadCpu() {
    std::map<long, std::pair<std::string, double>> threads;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream in(entry.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t open = stat.find('(');
        const size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        std::string field;
        double utime = 0;
        double stime = 0;
        // After the name: state is field 3; utime and stime are fields 14 and 15.
        for (int index = 3; index <= 15 && rest >> field; ++index) {
            if (index == 14) utime = std::strtod(field.c_str(), nullptr);
            if (index == 15) stime = std::strtod(field.c_str(), nullptr);
        }
        threads[std::strtol(entry.path().filename().c_str(), nullptr, 10)] = {
            stat.substr(open + 1, close - open - 1), (utime + stime) / tick};
    }
    return threads;
}

// The CPU each stage spent between two snapshots; a thread started in
// between counts from zero. The main thread only waits.
StageCpu stageCpu(const std::map<long, std::pair<std::string, double>>& before,
                  const std::map<long, std::pair<std::string, double>>& after) {
    StageCpu stages;
    const std::string program = after.count(::getpid()) ? after.at(::getpid()).first : "";
    for (const auto& [tid, thread] : after) {
        if (tid == ::getpid()) continue;
        const auto earlier = before.find(tid);
        const double spent = thread.second - (earlier == before.end() ? 0.0 : earlier->second.second);
        const std::string& name = thread.first;
        if (name.rfind("HK.Rows", 0) == 0 || name == program) {
            stages.look += spent;
        } else if (name == "HK.MovieWriter") {
            stages.writer += spent;
        } else if (name == "HK.MovieRecorde") {
            stages.encoder += spent;
        }
    }
    return stages;
}

struct Figures {
    uint64_t delivered = 0;
    uint64_t written = 0;
    double cpuSeconds = 0;
    double stopToSavedMs = 0;
    StageCpu stages;           // while the camera delivered
    uint64_t writtenMeanwhile = 0;  // frames written by then
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
                           double seconds, hollowkit::VideoCodec codec = hollowkit::VideoCodec::hevc) {
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
    model.setCodec(codec);
    model.setCountdownSeconds(0);
    h.main.runUntilIdle();

    Figures figures;
    const double cpuBefore = cpuSeconds();
    const auto threadsAtStart = threadCpu();
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
    figures.stages = stageCpu(threadsAtStart, threadCpu());
    figures.writtenMeanwhile = recorder->stats().videoWritten;
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
    const auto frames = benchsupport::cameraFrames(kWidth, kHeight, kDistinctFrames);
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

struct CliFigures {
    uint64_t written = 0;
    double cpuSeconds = 0;
    double lateSeconds = 0;
    std::string error;
};

// The command line given the same frames, look and encoder settings as the
// model's recording, paced like the camera.
CliFigures recordWithCli(const std::vector<VideoFrame>& frames, hollowkit::VideoCodec codec, double seconds) {
    const auto folder = benchFolder("cli");
    std::filesystem::create_directories(folder);
    const auto raw = folder / "frames.nv12";
    const auto cube = folder / "warm.cube";
    const auto movie = folder / "cli.mov";
    hollowkit::bench::writeRawNv12(frames, raw);
    std::ofstream(cube) << warmCube();
    const auto count = static_cast<uint64_t>(seconds * kFrameRate);
    const bool hevc = codec == hollowkit::VideoCodec::hevc;
    const std::string cpus = std::to_string(affinityCpus());
    // Camera NV12 (BT.709, limited range) to full-range BGRA, the look, back
    // to limited-range BT.709 4:2:0: the conversions our path makes.
    const std::string filter = "scale=in_color_matrix=bt709:in_range=tv:out_range=pc,format=bgra,lut3d=file=" +
                               cube.string() +
                               ":interp=trilinear,scale=out_color_matrix=bt709:out_range=tv,format=yuv420p";
    std::vector<std::string> arguments = {
        "-v", "error", "-y", "-re", "-f", "rawvideo", "-pix_fmt", "nv12", "-s",
        std::to_string(kWidth) + "x" + std::to_string(kHeight), "-r", std::to_string(kFrameRate),
        "-stream_loop", std::to_string(count / kDistinctFrames + 1), "-i", raw.string(), "-frames:v",
        std::to_string(count), "-vf", filter, "-c:v", hevc ? "libx265" : "libx264", "-preset",
        hevc ? "ultrafast" : "veryfast", "-b:v", std::to_string(hollowkit::bitRate(codec, kWidth, kHeight)), "-g",
        std::to_string(2 * kFrameRate), "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709",
        "-color_range", "tv", "-tag:v", hevc ? "hvc1" : "avc1"};
    if (hevc) {
        // The movie writer's frame threads.
        arguments.insert(arguments.end(), {"-x265-params", "log-level=error:open-gop=0:" +
                                                               std::string(hollowkit::kX265SaoParams) + ":pools=" +
                                                               cpus + ":frame-threads=" +
                                                               std::to_string(hollowkit::kHevcFrameThreads)});
    } else {
        arguments.insert(arguments.end(), {"-threads", cpus});
    }
    arguments.push_back(movie.string());

    CliFigures figures;
    const double before = cpuSeconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    const auto result = hollowkit::CommandRunner::run("/usr/bin/ffmpeg", arguments, {}, false, std::chrono::hours(1));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = cpuSeconds(RUSAGE_CHILDREN) - before;
    if (result.status != 0) {
        figures.error = "ffmpeg failed: " + result.output;
    } else {
        const int written = hollowkit::bench::framesInMovie(movie);
        figures.written = written > 0 ? static_cast<uint64_t>(written) : 0;
        figures.lateSeconds = wall - static_cast<double>(count) / kFrameRate;
    }
    std::filesystem::remove_all(folder.parent_path());
    return figures;
}

void BM_LookRecordingVsCli(benchmark::State& state) {
    const double seconds = envSeconds("HK_RECBENCH_SECONDS", 20);
    const auto codec = state.range(0) == 0 ? hollowkit::VideoCodec::hevc : hollowkit::VideoCodec::h264;
    const auto frames = benchsupport::cameraFrames(kWidth, kHeight, kDistinctFrames);
    const auto look = warmLook();
    Figures model;
    CliFigures cli;
    double load = 0;
    for (auto _ : state) {
        load = loadAverage();
        model = recordThroughModel(frames, look, seconds, codec);
        cli = recordWithCli(frames, codec, seconds);
        if (!cli.error.empty()) {
            state.SkipWithError(cli.error.c_str());
            break;
        }
    }
    state.counters["load1"] = load;
    state.counters["cpus"] = affinityCpus();
    state.counters["model_delivered"] = static_cast<double>(model.delivered);
    state.counters["model_written"] = static_cast<double>(model.written);
    state.counters["model_cpu_ms_per_frame"] =
        model.delivered ? model.cpuSeconds * 1000.0 / static_cast<double>(model.delivered) : 0.0;
    const auto perFrame = [](double spent, uint64_t count) {
        return count ? spent * 1000.0 / static_cast<double>(count) : 0.0;
    };
    state.counters["look_ms_per_frame"] = perFrame(model.stages.look, model.delivered);
    state.counters["writer_ms_per_written"] = perFrame(model.stages.writer, model.writtenMeanwhile);
    state.counters["encoder_ms_per_written"] = perFrame(model.stages.encoder, model.writtenMeanwhile);
    state.counters["cli_written"] = static_cast<double>(cli.written);
    state.counters["cli_cpu_ms_per_frame"] =
        cli.written ? cli.cpuSeconds * 1000.0 / static_cast<double>(cli.written) : 0.0;
    state.counters["cli_late_s"] = cli.lateSeconds;
}
BENCHMARK(BM_LookRecordingVsCli)->ArgName("h264")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_StopToVideoSaved(benchmark::State& state) {
    const double seconds = envSeconds("HK_RECBENCH_MOVIE_SECONDS", 60);
    const auto frames = benchsupport::cameraFrames(kWidth, kHeight, kDistinctFrames);
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
