// What recording leaves behind: movie after movie through the camera model's
// Record command, as the application records (its real-time FFmpeg writer,
// the camera's 1920x1080 frames at 30 a second and its 48 kHz stereo sound
// delivered from the camera's own thread all along), with the resident
// memory of the idle process read after each movie was saved.
//
// BM_RecordingMemory/<codec>: HK_MEMBENCH_MOVIES movies (default 100) of
// HK_MEMBENCH_SECONDS each (default 2), one after the other.
// BM_QuickToggleMemory/<codec>: HK_MEMBENCH_TOGGLES presses of Record
// (default 200) HK_MEMBENCH_GAP_MS apart (default 40), which start and stop
// movies of a frame or two.
// Reported, in MB of VmRSS:
//   rss_before       the model with its camera running, before any movie
//   rss_first        idle after the first movie was saved
//   rss_last         idle after the last one
//   growth           rss_last - rss_first (what each movie leaves behind)
//   rss_peak         the highest idle figure on the way
// and saved (movies reported "Video saved") and failed (any other notice).
// HK_MEMBENCH_LOG=<file> appends each movie's idle figure to <file>.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "camera_frames.h"
#include "../tests/model/recording_harness.h"
#include "hollowkit/media/audio_chunk.h"
#include "hollowkit/media/video_codec.h"

namespace {

using hollowkit::TimePoint;
using hollowkit::VideoFrame;
using lumenhollow::CameraModel;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrameRate = 30;
constexpr int kDistinctFrames = 10;
constexpr int kSampleRate = 48000;

// VmRSS of this process in MB.
double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

int envCount(const char* name, int fallback) {
    const char* value = std::getenv(name);
    const int parsed = value ? std::atoi(value) : 0;
    return parsed > 0 ? parsed : fallback;
}

// A 440 Hz square tone one frame period long, as the camera sends with each
// frame.
hollowkit::AudioChunk toneChunk(TimePoint pts) {
    constexpr int samples = kSampleRate / kFrameRate;
    std::vector<float> interleaved(static_cast<size_t>(samples) * 2);
    for (int i = 0; i < samples; ++i) {
        const float value = (i * 880 / kSampleRate) % 2 ? 0.1F : -0.1F;
        interleaved[static_cast<size_t>(2 * i)] = value;
        interleaved[static_cast<size_t>(2 * i + 1)] = value;
    }
    return hollowkit::AudioChunk::copyF32(interleaved, kSampleRate, 2, pts);
}

struct Figures {
    double before = 0;
    double first = 0;
    double last = 0;
    double peak = 0;
    int saved = 0;
    int failed = 0;
};

// The model recording from a camera that delivers all along. `pressesApart`
// zero: each movie lasts `movieLength` and is saved before the next starts;
// otherwise Record is pressed every `pressesApart`, `movies` times over,
// without waiting for a movie to be saved, and the figures are read once all
// are.
class RecordingRun {
public:
    RecordingRun(hollowkit::VideoCodec codec, const std::vector<VideoFrame>& frames) {
        // The application's writer, which drops a frame rather than wait.
        h_.movieWriters = hollowkit::ffmpegMovieWriterFactory();
        // The USB camera: recorded here, with the camera's sound.
        CameraModel& model = h_.start(true);
        model.setCodec(codec);
        model.setCountdownSeconds(0);
        camera_ = h_.camera();
        // The camera's thread sends the sound of each frame just before it.
        camera_->startFrames(kFrameRate, [this, &frames](uint64_t index) {
            const TimePoint pts =
                base_ + std::chrono::nanoseconds(static_cast<int64_t>(index) * 1'000'000'000 / kFrameRate);
            camera_->deliverAudio(toneChunk(pts));
            return frames[index % kDistinctFrames].withPts(pts);
        });
        h_.main.waitFor([&] { return camera_->framesDelivered() >= kFrameRate; }, std::chrono::seconds(30));
        h_.main.runUntilIdle();
    }

    ~RecordingRun() { camera_->stopFrames(); }

    RecordingRun(const RecordingRun&) = delete;
    RecordingRun& operator=(const RecordingRun&) = delete;

    Figures run(int movies, std::chrono::milliseconds movieLength, std::chrono::milliseconds pressesApart,
                std::FILE* log) {
        CameraModel& model = *h_.model;
        Figures figures;
        figures.before = idleMegabytes();
        const auto count = [&] {
            figures.saved = 0;
            figures.failed = 0;
            for (const auto& notice : h_.notices()) {
                if (!notice) continue;
                if (*notice == "Video saved") ++figures.saved;
                if (*notice == "No video frames were recorded" || notice->starts_with("Recording failed")) {
                    ++figures.failed;
                }
            }
            return figures.saved + figures.failed;
        };
        const auto note = [&](int movie) {
            const double now = idleMegabytes();
            if (movie == 0) figures.first = now;
            figures.last = now;
            figures.peak = std::max(figures.peak, now);
            if (log) std::fprintf(log, "%d %.1f\n", movie + 1, now);
        };
        if (pressesApart.count() == 0) {
            for (int movie = 0; movie < movies; ++movie) {
                model.toggleRecording();
                const auto startFrames = camera_->framesDelivered();
                const auto frames = static_cast<uint64_t>(movieLength.count() * kFrameRate / 1000);
                h_.main.waitFor([&] { return camera_->framesDelivered() >= startFrames + frames; },
                                std::chrono::minutes(5));
                model.toggleRecording();
                h_.main.waitFor([&] { return count() > movie; }, std::chrono::minutes(5));
                note(movie);
            }
        } else {
            // Pressed in pairs, so the first movie's figure comes after its save.
            for (int press = 0; press < movies; ++press) {
                model.toggleRecording();
                h_.main.waitFor([] { return false; }, pressesApart);
                if (press == 1) {
                    h_.main.waitFor([&] { return count() >= 1; }, std::chrono::minutes(5));
                    note(0);
                }
            }
            if (model.isRecording()) model.toggleRecording();
            h_.main.waitFor([&] { return h_.activity.active() == 0; }, std::chrono::minutes(5));
            count();
            note(1);
        }
        return figures;
    }

private:
    // The model's idle memory: what runs on the main executor is run, the
    // movie's threads have ended.
    double idleMegabytes() {
        h_.main.waitFor([&] { return h_.activity.active() == 0; }, std::chrono::minutes(5));
        h_.main.waitFor([] { return false; }, std::chrono::milliseconds(200));
        return residentMegabytes();
    }

    lumenhollow::test::RecordingHarness h_;
    std::shared_ptr<lumenhollow::FakeCamera> camera_;
    const TimePoint base_ = std::chrono::steady_clock::now();
};

std::FILE* openLog() {
    const char* path = std::getenv("HK_MEMBENCH_LOG");
    return path ? std::fopen(path, "a") : nullptr;
}

void report(benchmark::State& state, const Figures& figures) {
    state.counters["rss_before"] = figures.before;
    state.counters["rss_first"] = figures.first;
    state.counters["rss_last"] = figures.last;
    state.counters["rss_peak"] = figures.peak;
    state.counters["growth"] = figures.last - figures.first;
    state.counters["saved"] = figures.saved;
    state.counters["failed"] = figures.failed;
}

hollowkit::VideoCodec codecOf(const benchmark::State& state) {
    return state.range(0) == 0 ? hollowkit::VideoCodec::hevc : hollowkit::VideoCodec::h264;
}

void BM_RecordingMemory(benchmark::State& state) {
    const int movies = envCount("HK_MEMBENCH_MOVIES", 100);
    const auto length = std::chrono::milliseconds(
        static_cast<int64_t>(benchsupport::envSeconds("HK_MEMBENCH_SECONDS", 2) * 1000));
    const auto frames = benchsupport::cameraFrames(kWidth, kHeight, kDistinctFrames);
    Figures figures;
    std::FILE* log = openLog();
    for (auto _ : state) {
        RecordingRun run(codecOf(state), frames);
        figures = run.run(movies, length, std::chrono::milliseconds(0), log);
    }
    if (log) std::fclose(log);
    report(state, figures);
}
BENCHMARK(BM_RecordingMemory)->ArgName("h264")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_QuickToggleMemory(benchmark::State& state) {
    const int presses = envCount("HK_MEMBENCH_TOGGLES", 200);
    const int gapMs = envCount("HK_MEMBENCH_GAP_MS", 40);
    const auto frames = benchsupport::cameraFrames(kWidth, kHeight, kDistinctFrames);
    Figures figures;
    std::FILE* log = openLog();
    for (auto _ : state) {
        RecordingRun run(codecOf(state), frames);
        figures = run.run(presses, std::chrono::milliseconds(0), std::chrono::milliseconds(gapMs), log);
    }
    if (log) std::fclose(log);
    report(state, figures);
}
BENCHMARK(BM_QuickToggleMemory)->ArgName("h264")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
