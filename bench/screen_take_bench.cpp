// A whole screen-and-camera take through the camera model on a test X server
// (Xvfb, 1920x1080, textured, started here): the screen at 60 frames a
// second, a 1080p camera at 30, the pointer sampled 60 times a second and
// moved once a second, then the combined movie composed.
//
//   BM_ScreenTake    (HK_TAKEBENCH_SECONDS, default 60; 600 for the
//                    ten-minute figure)
//     screen_written, screen_expected   frames in "Screen.mov", and 60 a second
//     camera_written, camera_delivered  frames in "Camera.mov", and handed over
//     cpu_pct          process CPU over the take, in % of one core
//     rss_mb_1min, rss_mb_end          resident memory after the first minute
//                      (or at the end of a shorter take) and at the stop
//     stop_to_saved_s_per_min   from Record (stop) until "Screen recording
//                      saved", per minute of take
//   BM_ScreenHalfVsFfmpeg/others:N/ours:M   (HK_TAKEBENCH_PEER_SECONDS,
//     default 20) the screen half alone (ScreenRecorder, HEVC) against
//     `ffmpeg -f x11grab` with the same size, rate and encoder settings on the
//     same display, with N other programs' windows open (the first redrawn 10
//     times a second) and, for ours:1, this process's main window (redrawn 30
//     times a second, as the live picture is) and island over them, which the
//     recorder leaves out and the peer records:
//     recorder_cpu_s_per_s, ffmpeg_cpu_s_per_s   CPU seconds per second of screen
//     recorder_frames, ffmpeg_frames             frames in each movie
//     ffmpeg_duplicated    of ffmpeg's, copies of the previous picture it
//                          wrote for grabs it did not make in time
//     recorder_cpu_ms_per_frame, ffmpeg_cpu_ms_per_frame   CPU per kept frame
//     recorder_xvfb_ms_per_frame, ffmpeg_xvfb_ms_per_frame   the X server's
//                      CPU per kept frame while each side ran
//
// Run it with as many CPUs as the target has, e.g. `taskset -c 0,1` (Xvfb and
// ffmpeg inherit the restriction).

#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../tests/model/model_harness.h"
#include "bench_support.h"
#include "bench_windows.h"
#include "camera_frames.h"
#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/cpu_count.h"
#include "hollowkit/recording/linux/linux_recording_system.h"
#include "hollowkit/recording/encoder_threads.h"
#include "hollowkit/recording/screen_recorder.h"
#include "hollowkit/recording/x265_params.h"
#include "hollowkit/recording/x11/x11_display_service.h"
#include "hollowkit/recording/x11/x11_screen_capture.h"
#include "hollowkit/testing/xvfb_server.h"

namespace {

using namespace std::chrono_literals;
using hollowkit::SteadyClock;
using hollowkit::TimePoint;
using hollowkit::VideoFrame;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDistinctFrames = 10;

using benchsupport::cpuSeconds;
using benchsupport::envSeconds;

double rssMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

std::unique_ptr<hollowkit::XvfbServer> texturedServer(benchmark::State& state) {
    if (!hollowkit::XvfbServer::program() || !hollowkit::XvfbServer::xdotoolProgram()) {
        state.SkipWithError("Xvfb or xdotool is not installed");
        return nullptr;
    }
    auto server = std::make_unique<hollowkit::XvfbServer>();
    if (auto started = server->start(kWidth, kHeight); !started) {
        state.SkipWithError(started.error().c_str());
        return nullptr;
    }
    std::mt19937 random(7);
    std::vector<hollowkit::ColorBlock> blocks;
    for (int y = 0; y < kHeight; y += 40) {
        for (int x = 0; x < kWidth; x += 64) {
            blocks.push_back({x, y, 60, 36,
                              hollowkit::RgbColor{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                                                  static_cast<uint8_t>(random())}});
        }
    }
    if (!server->paint(hollowkit::RgbColor{30, 30, 30}, blocks) ||
        !server->setSquareCursor(32, hollowkit::RgbColor{255, 0, 255})) {
        state.SkipWithError("could not paint the test screen");
        return nullptr;
    }
    return server;
}

// Video frames in a movie, as ffprobe counts its packets.
double movieFrames(const std::filesystem::path& movie) {
    const auto result = hollowkit::CommandRunner::run(
        "/usr/bin/ffprobe",
        {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries", "stream=nb_read_packets", "-of",
         "csv=p=0", movie.string()},
        {}, /*logged=*/false);
    return result.status == 0 ? std::strtod(result.output.c_str(), nullptr) : 0;
}

void BM_ScreenTake(benchmark::State& state) {
    const double seconds = envSeconds("HK_TAKEBENCH_SECONDS", 60);
    auto server = texturedServer(state);
    if (!server) return;
    const auto frames = benchsupport::cameraFrames(kWidth, kHeight, kDistinctFrames);

    lumenhollow::test::ModelHarness h;
    h.outputFolder = std::filesystem::temp_directory_path() / ("hk-take-bench-" + std::to_string(::getpid()));
    h.cameras.setPocketConnected(true);
    hollowkit::LinuxRecordingSystemOptions options;
    options.displayName = server->displayName();
    hollowkit::RecordingSystem system = hollowkit::makeLinuxRecordingSystem(options);
    lumenhollow::CameraModelServices services = h.services();
    services.imaging.processor = [] { return std::make_shared<hollowkit::FrameProcessor>(); };
    services.recordingSystem = &system;
    // The model's clock follows the real one, which stamps the screen's frames.
    h.main.manualClock().set(SteadyClock::now());
    h.model = lumenhollow::CameraModel::create(std::move(services));
    lumenhollow::CameraModel& model = *h.model;
    model.camera().start();
    h.main.runUntilIdle();
    h.emit(hollowkit::CameraEvent::stats(lumenhollow::test::picture(kWidth, kHeight)));
    model.setRecordScreen(true);
    model.setAutoZoom(true);

    const auto run = [&](hollowkit::Duration span, const std::function<void()>& each = {}) {
        const TimePoint until = SteadyClock::now() + span;
        for (TimePoint now = SteadyClock::now(); now < until; now = SteadyClock::now()) {
            const hollowkit::Duration behind = now - h.main.clock().now();
            if (behind > hollowkit::Duration::zero()) h.main.advance(behind);
            if (each) each();
            h.main.waitFor([] { return false; }, 5ms);
        }
    };

    auto camera = h.camera();
    camera->startFrames(30, [&frames](uint64_t index) {
        return frames[index % kDistinctFrames].withPts(SteadyClock::now());
    });
    double cpu = 0;
    double rss1 = 0;
    double rssEnd = 0;
    double stopToSaved = 0;
    uint64_t delivered = 0;
    for (auto _ : state) {
        model.startRecording();
        run(2s);
        if (!model.state().recordingStarted) {
            state.SkipWithError(("the take did not start: " + model.state().notice.value_or("")).c_str());
            break;
        }
        const uint64_t deliveredBefore = camera->framesDelivered();
        const double cpuBefore = cpuSeconds();
        const TimePoint start = SteadyClock::now();
        TimePoint lastMove = start;
        int move = 0;
        run(hollowkit::toDuration(seconds), [&] {
            const TimePoint now = SteadyClock::now();
            if (now - lastMove >= 1s) {
                lastMove = now;
                ++move;
                server->xdotool({"mousemove", std::to_string(200 + (move % 8) * 180), std::to_string(300)});
            }
            if (rss1 == 0 && (now - start >= 60s)) rss1 = rssMegabytes();
        });
        cpu = (cpuSeconds() - cpuBefore) / seconds * 100.0;
        if (rss1 == 0) rss1 = rssMegabytes();
        rssEnd = rssMegabytes();
        delivered = camera->framesDelivered() - deliveredBefore;
        const TimePoint stopAt = SteadyClock::now();
        model.toggleRecording();
        h.main.waitFor([&] { return !model.state().composeProgress; }, 1h);
        stopToSaved = std::chrono::duration<double>(SteadyClock::now() - stopAt).count();
    }
    camera->stopFrames();
    if (model.state().notice != "Screen recording saved") {
        state.SkipWithError(("the take was not saved: " + model.state().notice.value_or("")).c_str());
    }
    const std::filesystem::path folder = model.state().lastScreenTake.value_or(std::filesystem::path{});
    // The two seconds before the measured stretch are in the movies too.
    state.counters["screen_written"] = movieFrames(folder / "Screen.mov");
    state.counters["screen_expected"] = (seconds + 2) * 60;
    state.counters["camera_written"] = movieFrames(folder / "Camera.mov");
    state.counters["camera_delivered"] = static_cast<double>(delivered) + 60;
    state.counters["cpu_pct"] = cpu;
    state.counters["rss_mb_1min"] = rss1;
    state.counters["rss_mb_end"] = rssEnd;
    state.counters["stop_to_saved_s_per_min"] = stopToSaved / ((seconds + 2) / 60.0);
    h.model.reset();
    h.main.runUntilIdle();
    std::filesystem::remove_all(h.outputFolder);
}
BENCHMARK(BM_ScreenTake)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_ScreenHalfVsFfmpeg(benchmark::State& state) {
    const double seconds = envSeconds("HK_TAKEBENCH_PEER_SECONDS", 20);
    auto server = texturedServer(state);
    if (!server) return;
    benchsupport::BenchWindows windows(server->displayName(), static_cast<int>(state.range(0)), state.range(1) != 0);
    const auto folder = std::filesystem::temp_directory_path() / ("hk-take-peer-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    hollowkit::X11DisplayService displays(server->displayName());
    hollowkit::X11ScreenCaptureBackend capture(hollowkit::X11ScreenCaptureBackend::Options{server->displayName()});
    hollowkit::ManualExecutor main;
    double recorderCpu = 0;
    double peerCpu = 0;
    double recorderServer = 0;
    double peerServer = 0;
    for (auto _ : state) {
        {
            hollowkit::ScreenRecorder recorder(folder / "Screen.mov", hollowkit::VideoCodec::hevc, false, main,
                                               displays, capture);
            bool started = false;
            recorder.start(std::nullopt, [&](auto) { started = true; });
            main.waitFor([&] { return started; }, 30s);
            const double before = cpuSeconds();
            const double serverBefore = benchsupport::childCpuSeconds("Xvfb");
            main.waitFor([] { return false; }, hollowkit::toDuration(seconds));
            recorderServer = (benchsupport::childCpuSeconds("Xvfb") - serverBefore) / seconds;
            std::optional<bool> done;
            recorder.stop(SteadyClock::now(), [&](auto r) { done = r.has_value(); });
            main.waitFor([&] { return done.has_value(); }, 120s);
            recorderCpu = (cpuSeconds() - before) / seconds;
        }
        // The recorder's settings: HEVC "ultrafast", its bit rate, a key
        // frame every two seconds, no B-frames, closed GOPs, SAO in its quick
        // mode (which the recorder keeps on, x265_params.h), BT.709, and its
        // threads: x265 would otherwise size its pool by the machine's CPUs
        // and pin it to all of them, outside the CPUs the benchmark was given.
        const int64_t rate = hollowkit::ScreenRecorder::videoBitRate(hollowkit::VideoCodec::hevc, kWidth, kHeight);
        const int cpus = hollowkit::usableCpuCount();
        const std::string x265Params = "log-level=error:open-gop=0:bframes=0:" +
                                       std::string(hollowkit::kX265SaoParams) + ":pools=" + std::to_string(cpus) +
                                       ":frame-threads=" + std::to_string(hollowkit::kHevcFrameThreads);
        const std::vector<std::string> arguments{
            "-nostdin", "-v", "error", "-y", "-f", "x11grab", "-framerate", "60", "-video_size",
            std::to_string(kWidth) + "x" + std::to_string(kHeight), "-draw_mouse", "1", "-i",
            server->displayName(), "-t", std::to_string(seconds), "-c:v", "libx265", "-preset", "ultrafast",
            "-b:v", std::to_string(rate), "-g", "120", "-bf", "0", "-x265-params",
            x265Params, "-pix_fmt", "yuv420p", "-colorspace", "bt709",
            "-progress", (folder / "progress.txt").string(), (folder / "Peer.mov").string()};
        const double serverBefore = benchsupport::childCpuSeconds("Xvfb");
        const benchsupport::ChildRun peer = benchsupport::runChild("/usr/bin/ffmpeg", arguments);
        peerServer = (benchsupport::childCpuSeconds("Xvfb") - serverBefore) / seconds;
        peerCpu = peer.ok ? peer.cpuSeconds / seconds : -1;
    }
    state.counters["recorder_cpu_s_per_s"] = recorderCpu;
    state.counters["ffmpeg_cpu_s_per_s"] = peerCpu;
    const double recorderFrames = movieFrames(folder / "Screen.mov");
    const double peerFrames = movieFrames(folder / "Peer.mov");
    // ffmpeg's last progress report counts the pictures it repeated.
    double duplicated = 0;
    std::ifstream progress(folder / "progress.txt");
    for (std::string line; std::getline(progress, line);) {
        if (line.rfind("dup_frames=", 0) == 0) duplicated = std::strtod(line.c_str() + 11, nullptr);
    }
    state.counters["ffmpeg_duplicated"] = duplicated;
    state.counters["recorder_frames"] = recorderFrames;
    state.counters["ffmpeg_frames"] = peerFrames;
    // A side that keeps fewer frames also encodes fewer: CPU per kept frame.
    const auto perFrameMs = [seconds](double cpuPerSecond, double frames) {
        return frames > 0 ? cpuPerSecond * seconds * 1000 / frames : 0;
    };
    state.counters["recorder_cpu_ms_per_frame"] = perFrameMs(recorderCpu, recorderFrames);
    state.counters["ffmpeg_cpu_ms_per_frame"] = perFrameMs(peerCpu, peerFrames);
    state.counters["recorder_xvfb_ms_per_frame"] = perFrameMs(recorderServer, recorderFrames);
    state.counters["ffmpeg_xvfb_ms_per_frame"] = perFrameMs(peerServer, peerFrames);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ScreenHalfVsFfmpeg)
    ->ArgNames({"others", "ours"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({3, 1})
    ->Args({10, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
