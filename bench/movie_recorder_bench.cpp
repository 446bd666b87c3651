// The movie recorder fed like a live camera (30 frames a second, in real
// time) against the ffmpeg command line encoding the same frames with the
// same encoder settings, in the same run.
//
// Reported per size:
//   written_share     frames in the movie / frames offered (1 = none dropped)
//   ms_per_frame      CPU time of the whole process per written frame
//   cli_ms_per_frame  CPU time of `ffmpeg` per frame for the same frames
//   cost_ratio        ms_per_frame / cli_ms_per_frame
//   cli_fps           how fast the command line encodes them (wall clock):
//                     below 30 the machine cannot keep up with a live camera
//
// BM_MovieFinish writes one minute of 1080p with sound as fast as the encoder
// goes and reports how long finishing takes (finish_ms: the encoder's tail,
// the index, and completing the file on the disk) and the movie's size.
// Run it with as many CPUs as the target has, e.g. `taskset -c 0,1` for a
// two-core machine: the encoder is told how many CPUs the process may use.

#include <sched.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "camera_frames.h"
#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/cpu_count.h"
#include "hollowkit/media/video_codec.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_frame.h"
#include "hollowkit/recording/ffmpeg_movie_writer.h"
#include "hollowkit/recording/movie_recorder.h"
#include "hollowkit/recording/x265_params.h"
#include "hollowkit/testing/manual_executor.h"
#include "raw_frames.h"

namespace hollowkit {
namespace {

constexpr int kFrameRate = 30;
constexpr int kDistinctFrames = 10;
constexpr int kFramesOffered = 150;  // five seconds

using benchsupport::cpuSeconds;


using bench::framesInMovie;

void BM_MovieRecorderRealTime(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const VideoCodec codec = VideoCodec::hevc;
    const auto frames = benchsupport::cameraFrames(width, height, kDistinctFrames);
    const auto dir = std::filesystem::temp_directory_path() / ("hk-movie-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto ours = dir / "recorder.mov";
    const auto theirs = dir / "cli.mov";
    const auto raw = dir / "frames.nv12";

    double writtenShare = 0;
    double msPerFrame = 0;
    double cliMsPerFrame = 0;
    double cliFps = 0;  // the command line's own speed, frames per wall-clock second
    double finishMs = 0;
    MovieRecorderStats stats;
    for (auto _ : state) {
        std::filesystem::remove(ours);
        std::filesystem::remove(theirs);
        ManualExecutor main;
        const double cpuBefore = cpuSeconds(RUSAGE_SELF);
        const auto wallStart = std::chrono::steady_clock::now();
        {
            MovieRecorder recorder(ours, codec, std::nullopt, false, main);
            const TimePoint start = Clock::system().now();
            for (int i = 0; i < kFramesOffered; ++i) {
                const TimePoint due = start + std::chrono::nanoseconds(int64_t{i} * 1'000'000'000 / kFrameRate);
                std::this_thread::sleep_until(due);
                recorder.appendVideo(frames[static_cast<size_t>(i % kDistinctFrames)].withPts(due));
            }
            const auto finishStart = std::chrono::steady_clock::now();
            bool done = false;
            recorder.finish(std::nullopt, [&](auto result) {
                done = true;
                if (!result) state.SkipWithError(result.error().userMessage().c_str());
            });
            main.waitFor([&] { return done; }, std::chrono::minutes(5));
            stats = recorder.stats();
            finishMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - finishStart).count();
        }
        const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count());
        const int written = framesInMovie(ours);
        writtenShare = static_cast<double>(written) / kFramesOffered;
        msPerFrame = written > 0 ? cpu * 1000 / written : 0;

        // The command line, as fast as it can, on the same frames in the same
        // order with the same encoder settings.
        bench::writeRawNv12(frames, raw);
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        const std::string x265 = "log-level=error:open-gop=0:" + std::string(kX265SaoParams) +
                                 ":pools=" + std::to_string(usableCpuCount());
        const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
        const auto cliStart = std::chrono::steady_clock::now();
        const auto cli = CommandRunner::run(
            "/usr/bin/ffmpeg",
            {"-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "nv12", "-s", size, "-r", "30",
             "-stream_loop", std::to_string(kFramesOffered / kDistinctFrames), "-i", raw.string(),
             "-frames:v", std::to_string(kFramesOffered), "-c:v", "libx265", "-preset", "ultrafast",
             "-b:v", std::to_string(bitRate(codec, width, height)), "-g", "60", "-x265-params", x265,
             "-pix_fmt", "yuv420p", "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace",
             "bt709", "-tag:v", "hvc1", "-use_editlist", "1", theirs.string()},
            {}, false, std::chrono::minutes(10));
        const double cliCpu = cpuSeconds(RUSAGE_CHILDREN) - childBefore;
        const double cliWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - cliStart).count();
        if (cli.status != 0) {
            state.SkipWithError(("ffmpeg failed: " + cli.output).c_str());
            break;
        }
        const int cliFrames = framesInMovie(theirs);
        cliMsPerFrame = cliFrames > 0 ? cliCpu * 1000 / cliFrames : 0;
        cliFps = cliWall > 0 ? cliFrames / cliWall : 0;
    }
    state.counters["written_share"] = writtenShare;
    state.counters["ms_per_frame"] = msPerFrame;
    state.counters["cli_ms_per_frame"] = cliMsPerFrame;
    state.counters["cli_fps"] = cliFps;
    state.counters["cost_ratio"] = cliMsPerFrame > 0 ? msPerFrame / cliMsPerFrame : 0;
    state.counters["finish_ms"] = finishMs;
    state.counters["dropped_writer_busy"] = static_cast<double>(stats.videoDroppedBusy - stats.videoDroppedQueueFull);
    state.counters["dropped_queue_full"] = static_cast<double>(stats.videoDroppedQueueFull);
    state.counters["cpus"] = usableCpuCount();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

BENCHMARK(BM_MovieRecorderRealTime)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_MovieFinish(benchmark::State& state) {
    constexpr int kWidth = 1920;
    constexpr int kHeight = 1080;
    constexpr int kMinuteFrames = 60 * kFrameRate;
    constexpr int kSampleRate = 48000;
    constexpr int kChunk = kSampleRate / kFrameRate;
    const VideoCodec codec = state.range(0) == 0 ? VideoCodec::hevc : VideoCodec::h264;
    const auto frames = benchsupport::cameraFrames(kWidth, kHeight, kDistinctFrames);
    const std::vector<float> silence(static_cast<size_t>(kChunk) * 2, 0.0f);
    const auto dir = std::filesystem::temp_directory_path() / ("hk-finish-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto movie = dir / "minute.mov";
    double finishMs = 0;
    double movieMb = 0;
    for (auto _ : state) {
        std::filesystem::remove(movie);
        FfmpegMovieWriterOptions options;
        options.realTime = false;
        auto writer = makeFfmpegMovieWriter(movie, options);
        MovieWriterSettings settings;
        settings.codec = codec;
        settings.width = kWidth;
        settings.height = kHeight;
        settings.videoBitRate = bitRate(codec, kWidth, kHeight);
        settings.audio = MovieAudioSettings{kSampleRate, 2};
        const TimePoint start = Clock::system().now();
        if (auto started = writer->start(settings, start); !started) {
            state.SkipWithError(started.error().c_str());
            break;
        }
        for (int i = 0; i < kMinuteFrames; ++i) {
            const TimePoint at = start + std::chrono::nanoseconds(int64_t{i} * 1'000'000'000 / kFrameRate);
            writer->appendAudio(AudioChunk::copyF32(silence, kSampleRate, 2, at));
            writer->appendVideo(frames[static_cast<size_t>(i % kDistinctFrames)].withPts(at));
        }
        const auto finishStart = std::chrono::steady_clock::now();
        const auto finished = writer->finish(std::nullopt);
        finishMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - finishStart).count();
        state.SetIterationTime(finishMs / 1000);
        if (!finished) {
            state.SkipWithError(finished.error().c_str());
            break;
        }
        movieMb = static_cast<double>(std::filesystem::file_size(movie)) / 1e6;
    }
    state.counters["finish_ms"] = finishMs;
    state.counters["movie_mb"] = movieMb;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

BENCHMARK(BM_MovieFinish)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit

