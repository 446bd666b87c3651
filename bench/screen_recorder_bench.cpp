// The screen recorder on a test X server (Xvfb, started here): what reaches
// the movie at 60 frames a second, what one grab costs, and how regularly
// the cursor sampler runs.
//
//   BM_ScreenRecording/<height>   records 4 s of a textured screen (HEVC).
//     written_fps      frames in the movie per second (60 = none lost)
//     captured_fps     frames the capture delivered per second
//     dropped_queue    frames dropped because the recorder's queue was full
//     dropped_writer   frames dropped because the encoder was behind
//   BM_GrabAndConvert/<screen height>/<output height>   one grab of the
//     screen with the pointer drawn in, scaled and converted to NV12: the
//     time per iteration is the time per frame.
//   BM_CaptureWithWindows/others:N/ours:M/leavesOut:L   the capture alone
//     at 1920x1080, 60 frames a second, for 5 s, with N other programs'
//     windows and (M = 1) this process's main window and island on screen,
//     redrawn as in a take; L = 1 leaves our windows out of the pictures.
//     fps                  pictures delivered per second
//     cpu_ms_per_frame     this process's CPU per picture (the capture's
//                          thread, plus a little for the redrawing)
//     xvfb_ms_per_frame    the X server's CPU per picture
//   BM_CursorSampler   the cursor recorder's 1/60 s timer on a headless
//     main executor against the X server for 3 s.
//     interval_p50_ms, interval_p99_ms, interval_max_ms (target 16.667)
//
// Run it with as many CPUs as the target has, e.g. `taskset -c 0,1` for a
// two-core machine (Xvfb inherits the restriction).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "hollowkit/base/loop_executor.h"
#include "hollowkit/recording/cursor_recorder.h"
#include "hollowkit/recording/screen_recorder.h"
#include "hollowkit/recording/x11/x11_display_service.h"
#include "hollowkit/recording/x11/x11_button_press_source.h"
#include "hollowkit/recording/x11/x11_key_press_source.h"
#include "hollowkit/recording/x11/x11_pointer_service.h"
#include "hollowkit/recording/x11/x11_screen_capture.h"
#include "hollowkit/testing/manual_executor.h"
#include "hollowkit/testing/xvfb_server.h"
#include "bench_support.h"
#include "bench_windows.h"

namespace hollowkit {
namespace {

using namespace std::chrono_literals;

// A server of that size with many small colour blocks (texture for the
// encoder) and a pointer; nothing when the machine cannot run one.
std::unique_ptr<XvfbServer> texturedServer(benchmark::State& state, int width, int height) {
    if (!XvfbServer::program()) {
        state.SkipWithError("Xvfb is not installed");
        return nullptr;
    }
    auto server = std::make_unique<XvfbServer>();
    if (auto started = server->start(width, height); !started) {
        state.SkipWithError(started.error().c_str());
        return nullptr;
    }
    std::mt19937 random(7);
    std::vector<ColorBlock> blocks;
    for (int y = 0; y < height; y += 40) {
        for (int x = 0; x < width; x += 64) {
            blocks.push_back(ColorBlock{x, y, 60, 36,
                                        RgbColor{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                                                 static_cast<uint8_t>(random())}});
        }
    }
    if (!server->paint(RgbColor{30, 30, 30}, blocks) || !server->setSquareCursor(32, RgbColor{255, 0, 255})) {
        state.SkipWithError("could not paint the test screen");
        return nullptr;
    }
    return server;
}

std::filesystem::path scratchFolder() {
    auto folder = std::filesystem::temp_directory_path() / "hk-screen-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

void BM_ScreenRecording(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const int width = height * 16 / 9;
    auto server = texturedServer(state, width, height);
    if (!server) return;
    const auto folder = scratchFolder();
    X11DisplayService displays(server->displayName());
    X11ScreenCaptureBackend capture(X11ScreenCaptureBackend::Options{server->displayName()});
    ManualExecutor main;
    constexpr auto kLength = 4s;
    int take = 0;
    ScreenRecorderStats stats;
    double seconds = 0;
    for (auto _ : state) {
        const auto path = folder / ("Screen" + std::to_string(take++) + ".mov");
        ScreenRecorder recorder(path, VideoCodec::hevc, false, main, displays, capture);
        std::optional<TimePoint> first;
        recorder.setOnFirstFrame([&](TimePoint t) { first = t; });
        bool started = false;
        recorder.start(std::nullopt, [&](Result<void, ScreenRecorder::ScreenError> r) {
            started = true;
            if (!r) state.SkipWithError(r.error().userMessage().c_str());
        });
        main.waitFor([&] { return started && first.has_value(); }, 30s);
        if (!first) break;
        const TimePoint end = *first + kLength;
        main.waitFor([&] { return SteadyClock::now() >= end; }, kLength + 5s);
        std::optional<Result<std::filesystem::path, ScreenRecorder::ScreenError>> outcome;
        recorder.stop(end, [&](auto r) { outcome = std::move(r); });
        main.waitFor([&] { return outcome.has_value(); }, 60s);
        stats = recorder.stats();
        seconds = std::chrono::duration<double>(kLength).count();
    }
    if (seconds > 0) {
        state.counters["written_fps"] = static_cast<double>(stats.framesWritten) / seconds;
        state.counters["captured_fps"] = static_cast<double>(stats.framesCaptured) / seconds;
        state.counters["dropped_queue"] = static_cast<double>(stats.framesDroppedQueue);
        state.counters["dropped_writer"] = static_cast<double>(stats.framesDroppedWriter);
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ScreenRecording)->Arg(1080)->Arg(2160)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

void BM_GrabAndConvert(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const int width = height * 16 / 9;
    const int outHeight = static_cast<int>(state.range(1));
    auto server = texturedServer(state, width, height);
    if (!server) return;
    ScreenCaptureRequest request;
    request.display = DisplayInfo{1, 0, 0, width, height, true, false};
    request.outputWidth = outHeight * 16 / 9;
    request.outputHeight = outHeight;
    // As fast as it goes: each frame is one grab plus its conversion.
    request.minimumFrameInterval = 1ms;
    std::mutex mutex;
    std::condition_variable arrived;
    uint64_t frames = 0;
    ScreenCaptureHandlers handlers;
    handlers.onFrame = [&](VideoFrame, ScreenFrameStatus) {
        std::lock_guard lock(mutex);
        ++frames;
        arrived.notify_all();
    };
    X11ScreenCaptureBackend backend(X11ScreenCaptureBackend::Options{server->displayName()});
    auto capture = backend.start(request, handlers);
    if (!capture) {
        state.SkipWithError(capture.error().c_str());
        return;
    }
    for (auto _ : state) {
        std::unique_lock lock(mutex);
        const uint64_t seen = frames;
        arrived.wait_for(lock, 5s, [&] { return frames > seen; });
    }
}
BENCHMARK(BM_GrabAndConvert)
    ->Args({1080, 1080})
    ->Args({2160, 2160})
    ->Args({2880, 2160})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_CaptureWithWindows(benchmark::State& state) {
    constexpr int kWidth = 1920;
    constexpr int kHeight = 1080;
    auto server = texturedServer(state, kWidth, kHeight);
    if (!server) return;
    benchsupport::BenchWindows windows(server->displayName(), static_cast<int>(state.range(0)), state.range(1) != 0);
    ScreenCaptureRequest request;
    request.display = DisplayInfo{1, 0, 0, kWidth, kHeight, true, false};
    request.outputWidth = kWidth;
    request.outputHeight = kHeight;
    request.excludesCurrentProcessWindows = state.range(2) != 0;
    std::atomic<uint64_t> frames{0};
    ScreenCaptureHandlers handlers;
    handlers.onFrame = [&](VideoFrame, ScreenFrameStatus) { frames.fetch_add(1); };
    X11ScreenCaptureBackend backend(X11ScreenCaptureBackend::Options{server->displayName()});
    constexpr auto kLength = 5s;
    double cpu = 0;
    double xvfb = 0;
    uint64_t delivered = 0;
    for (auto _ : state) {
        auto capture = backend.start(request, handlers);
        if (!capture) {
            state.SkipWithError(capture.error().c_str());
            return;
        }
        const uint64_t framesBefore = frames.load();
        const double cpuBefore = benchsupport::cpuSeconds();
        const double xvfbBefore = benchsupport::childCpuSeconds("Xvfb");
        std::this_thread::sleep_for(kLength);
        delivered = frames.load() - framesBefore;
        cpu = benchsupport::cpuSeconds() - cpuBefore;
        xvfb = benchsupport::childCpuSeconds("Xvfb") - xvfbBefore;
    }
    if (delivered == 0) return;
    const double n = static_cast<double>(delivered);
    state.counters["fps"] = n / std::chrono::duration<double>(kLength).count();
    state.counters["cpu_ms_per_frame"] = cpu * 1000 / n;
    state.counters["xvfb_ms_per_frame"] = xvfb * 1000 / n;
}
BENCHMARK(BM_CaptureWithWindows)
    ->ArgNames({"others", "ours", "leavesOut"})
    ->Args({0, 0, 1})
    ->Args({0, 1, 0})
    ->Args({0, 1, 1})
    ->Args({3, 1, 1})
    ->Args({10, 1, 0})
    ->Args({10, 1, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

void BM_CursorSampler(benchmark::State& state) {
    auto server = texturedServer(state, 1920, 1080);
    if (!server) return;
    X11DisplayService displays(server->displayName());
    X11PointerService pointer(server->displayName());
    X11KeyPressSource keys(server->displayName());
    X11ButtonPressSource buttons(server->displayName());
    LoopExecutor main;
    std::vector<double> intervals;
    for (auto _ : state) {
        std::unique_ptr<CursorRecorder> recorder;
        main.sync([&] {
            recorder = std::make_unique<CursorRecorder>(displays.displays().value().front().id, main, displays,
                                                        pointer, keys, buttons);
            recorder->start();
        });
        const TimePoint end = SteadyClock::now() + 3s;
        std::vector<CursorSample> samples;
        while (SteadyClock::now() < end) {
            std::this_thread::sleep_for(100ms);
        }
        main.sync([&] {
            samples = recorder->stop().samples;
            recorder.reset();
        });
        for (size_t i = 1; i < samples.size(); ++i) {
            intervals.push_back((samples[i].time - samples[i - 1].time) * 1000);
        }
    }
    if (intervals.empty()) return;
    std::sort(intervals.begin(), intervals.end());
    const auto at = [&](double q) { return intervals[static_cast<size_t>(q * static_cast<double>(intervals.size() - 1))]; };
    state.counters["interval_p50_ms"] = at(0.5);
    state.counters["interval_p99_ms"] = at(0.99);
    state.counters["interval_max_ms"] = intervals.back();
    state.counters["samples"] = static_cast<double>(intervals.size() + 1);
}
BENCHMARK(BM_CursorSampler)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace hollowkit

