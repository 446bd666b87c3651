// The screen composer against an FFmpeg filter graph doing a comparable
// composition of the same inputs (the camera cut square, scaled, given a
// round alpha mask and laid over the screen, both sounds copied, the same
// encoder and settings), in one run.
//
// Inputs are made once per screen size with ffmpeg's test sources: a moving
// test picture as the screen (H.264 + AAC) and a 1080p camera with its own
// tone, 3 s long (HK_COMPOSE_SECONDS for longer takes). Every export runs in
// a child process, so its peak memory (ru_maxrss) is its own.
//
// Reported per export:
//   x_realtime  seconds of movie per second of wall-clock time
//   peak_MB     the exporting process's peak resident memory
//   cpu_s       CPU time of the exporting process, all threads
// Run it on as many CPUs as the target has, e.g. `taskset -c 0,1` for a
// two-core machine: encoders and row workers use the CPUs they may run on.

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/recording/screen_composer.h"
#include "hollowkit/recording/x265_params.h"
#include "hollowkit/recording/zoom_planner.h"


namespace hollowkit {
namespace {

// The takes' length: 3 s, or HK_COMPOSE_SECONDS.
double takeSeconds() {
    static const double seconds = [] {
        const char* text = std::getenv("HK_COMPOSE_SECONDS");
        const double value = text != nullptr ? std::atof(text) : 0;
        return value > 0 ? value : 3.0;
    }();
    return seconds;
}
constexpr const char* kChildFlag = "--compose-child";

std::filesystem::path workFolder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "hk-compose-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return std::filesystem::path(pattern);
    }();
    return folder;
}

int affinityCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    return sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

bool runFfmpeg(const std::vector<std::string>& arguments) {
    std::vector<std::string> all{"-v", "error", "-y"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const auto result = CommandRunner::run("/usr/bin/ffmpeg", all, {}, false, std::chrono::minutes(10));
    if (result.status != 0) std::fprintf(stderr, "ffmpeg failed: %s\n", result.output.c_str());
    return result.status == 0;
}

struct Inputs {
    std::filesystem::path screen;
    std::filesystem::path camera;
};

// The screen at width x height and the 1080p camera, made once per size.
const Inputs& inputs(int width, int height) {
    static std::map<int, Inputs> made;
    auto found = made.find(width);
    if (found != made.end()) return found->second;
    const std::filesystem::path folder = workFolder();
    Inputs in{folder / ("Screen" + std::to_string(width) + ".mov"), folder / "Camera.mov"};
    const std::string duration = std::to_string(takeSeconds());
    runFfmpeg({"-f", "lavfi", "-i",
               "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=30:duration=" +
                   duration,
               "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + duration, "-c:v", "libx264",
               "-preset", "veryfast", "-crf", "20", "-pix_fmt", "yuv420p", "-c:a", "aac", in.screen.string()});
    if (!std::filesystem::exists(in.camera)) {
        runFfmpeg({"-f", "lavfi", "-i", "testsrc=size=1920x1080:rate=30:duration=" + duration, "-f", "lavfi", "-i",
                   "sine=frequency=880:sample_rate=48000:duration=" + duration, "-c:v", "libx264", "-preset",
                   "veryfast", "-crf", "20", "-pix_fmt", "yuv420p", "-c:a", "aac", in.camera.string()});
    }
    return made.emplace(width, in).first->second;
}

using benchsupport::ChildRun;
using benchsupport::runChild;

void report(benchmark::State& state, const ChildRun& run) {
    if (!run.ok) {
        state.SkipWithError("the export failed");
        return;
    }
    state.SetIterationTime(run.seconds);
    state.counters["x_realtime"] = takeSeconds() / run.seconds;
    state.counters["peak_MB"] = run.peakMegabytes;
    state.counters["cpu_s"] = run.cpuSeconds;
}

const char* codecName(VideoCodec codec) {
    return codec == VideoCodec::hevc ? "hevc" : "h264";
}

// Our composer: shape 0 circle/keep, 1 circle/blur, 2 cut-out.
void BM_Composer(benchmark::State& state, VideoCodec codec) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int style = static_cast<int>(state.range(2));
    const Inputs& in = inputs(width, height);
    const std::filesystem::path output = workFolder() / "Combined.mov";
    for (auto _ : state) {
        report(state, runChild("/proc/self/exe", {kChildFlag, in.screen.string(), in.camera.string(),
                                                  output.string(), codecName(codec), std::to_string(style)}));
    }
}

// The filter graph: the camera cut square and scaled to the bubble's size,
// a round mask (a picture made once with geq) merged in as alpha, laid over
// the screen at the bubble's place; both sounds copied; encoded as the
// composer encodes.
void BM_FfmpegGraph(benchmark::State& state, VideoCodec codec) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const Inputs& in = inputs(width, height);
    const BubbleStyle style(BubbleCorner::bottomTrailing, BubbleSize::medium, BubbleShape::circle,
                            BubbleBackground::keep);
    const PixelRect square = BubbleCompositor::bubbleSquare(style, width, height);
    // Even: the graph's 4:2:0 alpha wants even sides.
    const int side = static_cast<int>(square.width) & ~1;
    const std::filesystem::path mask = workFolder() / ("Mask" + std::to_string(side) + ".png");
    if (!std::filesystem::exists(mask)) {
        const std::string s = std::to_string(side);
        runFfmpeg({"-f", "lavfi", "-i", "color=c=black:size=" + s + "x" + s, "-vf",
                   "format=gray,geq=lum='if(lte(hypot(X+0.5-" + s + "/2,Y+0.5-" + s + "/2)," + s + "/2),255,0)'",
                   "-frames:v", "1", mask.string()});
    }
    const ScreenComposerOptions defaults;
    const std::string graph = "[1:v]crop=ih:ih,scale=" + std::to_string(side) + ":" + std::to_string(side) +
                              ",format=yuva420p[cam];[2:v]format=gray[m];[cam][m]alphamerge[bubble];"
                              "[0:v][bubble]overlay=" +
                              std::to_string(static_cast<int>(square.x)) + ":" +
                              std::to_string(static_cast<int>(square.y)) + ":shortest=1,format=yuv420p[v]";
    std::vector<std::string> args{"-v", "error", "-y", "-i", in.screen.string(), "-i", in.camera.string(),
                                  "-framerate", "30", "-loop", "1", "-i", mask.string(), "-filter_complex", graph,
                                  "-map", "[v]", "-map", "1:a", "-map", "0:a", "-r", "30", "-t",
                                  std::to_string(takeSeconds()), "-c:a", "copy", "-movflags", "+faststart",
                                  "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709"};
    // A key frame every two seconds, as the composer writes them (the
    // encoders' own default, every 250 frames, costs x265 about a tenth
    // less CPU time). HK_GRAPH_DEFAULT_GOP=1 leaves the encoders' default.
    if (std::getenv("HK_GRAPH_DEFAULT_GOP") == nullptr) {
        args.insert(args.end(), {"-g", std::to_string(2 * ScreenComposer::kFrameRate)});
    }
    if (codec == VideoCodec::hevc) {
        // Told the CPUs it may use, as the composer tells it: x265 would
        // otherwise spread its pool over every CPU of the machine.
        args.insert(args.end(), {"-c:v", "libx265", "-preset", defaults.hevcPreset, "-crf",
                                 std::to_string(defaults.hevcCrf), "-x265-params",
                                 "log-level=error:" + std::string(kX265SaoParams) +
                                     ":pools=" + std::to_string(affinityCpus()),
                                 "-tag:v", "hvc1"});
    } else {
        args.insert(args.end(), {"-c:v", "libx264", "-preset", defaults.h264Preset, "-crf",
                                 std::to_string(defaults.h264Crf), "-tag:v", "avc1"});
    }
    args.push_back((workFolder() / "Graph.mov").string());
    for (auto _ : state) report(state, runChild("/usr/bin/ffmpeg", args));
}

// Planning a ten-minute take with a click every 7 s and the pointer moving.
void BM_ZoomPlanTenMinutes(benchmark::State& state) {
    CursorTimeline timeline;
    const double duration = 600;
    for (int i = 0; i <= static_cast<int>(duration * 60); ++i) {
        const double t = i / 60.0;
        const bool pressed = i % 420 == 60;
        timeline.samples.push_back({t, 0.5 + 0.4 * std::sin(t / 3), 0.5 + 0.4 * std::cos(t / 5), pressed, false});
    }
    for (auto _ : state) {
        ZoomPath path = ZoomPlanner::plan(timeline, duration);
        benchmark::DoNotOptimize(path);
    }
}

void sizes(benchmark::internal::Benchmark* b) {
    for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        for (int style = 0; style < 3; ++style) b->Args({w, h, style});
    }
}

BENCHMARK_CAPTURE(BM_Composer, h264, VideoCodec::h264)
    ->Apply(sizes)
    ->ArgNames({"w", "h", "style"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FfmpegGraph, h264, VideoCodec::h264)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->ArgNames({"w", "h"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Composer, hevc, VideoCodec::hevc)
    ->Args({1920, 1080, 0})
    ->ArgNames({"w", "h", "style"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FfmpegGraph, hevc, VideoCodec::hevc)
    ->Args({1920, 1080})
    ->ArgNames({"w", "h"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomPlanTenMinutes)->Unit(benchmark::kMillisecond);

// The child: one export, exit status 0 on success.
int composeChild(int argc, char** argv) {
    if (argc < 7) return 2;
    ComposeRequest request;
    request.screen = argv[2];
    request.camera = argv[3];
    request.output = argv[4];
    request.codec = std::strcmp(argv[5], "hevc") == 0 ? VideoCodec::hevc : VideoCodec::h264;
    const int style = std::atoi(argv[6]);
    request.style = BubbleStyle(BubbleCorner::bottomTrailing, BubbleSize::medium,
                                style == 2 ? BubbleShape::cutout : BubbleShape::circle,
                                style == 1 ? BubbleBackground::blur : BubbleBackground::keep);
    const auto result = ScreenComposer::composeNow(request, {});
    if (!result) {
        std::fprintf(stderr, "%s\n", result.error().userMessage().c_str());
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace hollowkit

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], hollowkit::kChildFlag) == 0) return hollowkit::composeChild(argc, argv);
    hollowkit::installFfmpegLogging();
    hollowkit::applyMemorySettings();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(hollowkit::workFolder(), ignored);
    return 0;
}
