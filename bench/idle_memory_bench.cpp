// What the camera's picture paths leave resident once they go idle: the live
// preview's blur turned off, and a 4K composition over. Each case runs in a
// child process of its own, so its figures start from a clean heap.
//
// BM_PreviewBlurTurnedOff/<camera width>: the background preview blurs
// HK_IDLE_FRAMES camera frames (NV12, default 30), then the blur is turned
// off (the bubble keeps the room) and one more frame goes through.
// BM_CompositorFrames/<screen width>: a circle bubble with the room blurred
// drawn over HK_IDLE_FRAMES screen frames (NV12) into a BGRA canvas of the
// screen's size, then the compositor goes, as it does when its composition
// ends.
// BM_ComposeTake/<screen width>: ScreenComposer::composeNow on a take of
// HK_IDLE_SECONDS (default 2) of screen at that size and a 1080p camera,
// the room blurred, as the application composes "Combined.mov".
// Reported, in MB of VmRSS: rss_before (the path set up, before its first
// picture), rss_busy (after the last picture), rss_idle (once idle) and
// kept (rss_idle - rss_before).

#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bench_support.h"
#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/memory_settings.h"
#include "hollowkit/base/serial_queue.h"
#include "hollowkit/imaging/background_preview.h"
#include "hollowkit/recording/bubble_compositor.h"
#include "hollowkit/recording/screen_composer.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "hollowkit/testing/imaging_test_pictures.h"
#include "hollowkit/testing/resident_size.h"

namespace hollowkit {
namespace {

struct Figures {
    double before = 0;
    double busy = 0;
    double idle = 0;
};

double residentMegabytes() {
    return static_cast<double>(testsupport::residentBytes()) / (1024.0 * 1024.0);
}

int frameCount() {
    const char* text = std::getenv("HK_IDLE_FRAMES");
    const int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : 30;
}

// Runs `work` in a child process and reads its figures back; false when the
// child failed.
bool inChild(const std::function<bool(Figures&)>& work, Figures& figures) {
    std::array<int, 2> pipe{};
    if (::pipe(pipe.data()) != 0) return false;
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::close(pipe[0]);
        Figures mine;
        const bool ok = work(mine);
        const bool written = ::write(pipe[1], &mine, sizeof mine) == static_cast<ssize_t>(sizeof mine);
        ::_exit(ok && written ? 0 : 1);
    }
    ::close(pipe[1]);
    const bool read = ::read(pipe[0], &figures, sizeof figures) == static_cast<ssize_t>(sizeof figures);
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void report(benchmark::State& state, bool ok, const Figures& figures) {
    if (!ok) {
        state.SkipWithError("the case failed");
        return;
    }
    state.counters["rss_before"] = figures.before;
    state.counters["rss_busy"] = figures.busy;
    state.counters["rss_idle"] = figures.idle;
    state.counters["kept"] = figures.idle - figures.before;
}


const BubbleStyle kBlurredCircle{BubbleCorner::bottomTrailing, BubbleSize::medium, BubbleShape::circle,
                                 BubbleBackground::blur};
const BubbleStyle kPlainCircle{BubbleCorner::bottomTrailing, BubbleSize::medium, BubbleShape::circle,
                               BubbleBackground::keep};

// Hands each frame to the preview and waits for it to come back.
class PreviewRun {
public:
    explicit PreviewRun(BackgroundPreview& preview) : preview_(preview) {}

    bool pass(const VideoFrame& frame) {
        preview_.submit(frame, [this](const VideoFrame&) {
            std::lock_guard lock(mutex_);
            ++delivered_;
            done_.notify_all();
        });
        std::unique_lock lock(mutex_);
        const int wanted = ++submitted_;
        return done_.wait_for(lock, std::chrono::seconds(30), [&] { return delivered_ >= wanted; });
    }

private:
    BackgroundPreview& preview_;
    std::mutex mutex_;
    std::condition_variable done_;
    int submitted_ = 0;
    int delivered_ = 0;
};

void BM_PreviewBlurTurnedOff(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 9 / 16;
    for (auto _ : state) {
        Figures figures;
        const bool ok = inChild(
            [&](Figures& f) {
                const VideoFrame frame = makeFigureScene(width, height, PixelFormat::nv12).frame;
                auto backend = std::make_unique<FakeSegmentationBackend>();
                backend->setResult(FakeSegmentationBackend::rectangleMask(64, 36, {0.3, 0.1, 0.4, 0.9}));
                // A queue of the case's own, so it can wait for what the
                // preview posted to it.
                SerialQueue queue("HollowKit.BackgroundPreview");
                BackgroundPreview preview(std::move(backend), queue);
                PreviewRun run(preview);
                preview.setStyle(kBlurredCircle);
                returnFreedMemory();
                f.before = residentMegabytes();
                for (int i = 0; i < frameCount(); ++i) {
                    if (!run.pass(frame)) return false;
                }
                f.busy = residentMegabytes();
                // Turned off; the queue deals with the change, and the camera's
                // frames go on (untreated).
                preview.setStyle(kPlainCircle);
                if (!queue.sync([] {}) || !run.pass(frame) || !queue.sync([] {})) return false;
                f.idle = residentMegabytes();
                return true;
            },
            figures);
        report(state, ok, figures);
    }
}
BENCHMARK(BM_PreviewBlurTurnedOff)->ArgName("camera")->Arg(1920)->Arg(3840)->Iterations(1);

void BM_CompositorFrames(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 9 / 16;
    for (auto _ : state) {
        Figures figures;
        const bool ok = inChild(
            [&](Figures& f) {
                const VideoFrame screen = makeFigureScene(width, height, PixelFormat::nv12).frame;
                const VideoFrame camera = makeFigureScene(1920, 1080, PixelFormat::nv12).frame;
                {
                    auto backend = std::make_unique<FakeSegmentationBackend>();
                    backend->setResult(FakeSegmentationBackend::rectangleMask(64, 64, {0.3, 0.1, 0.4, 0.9}));
                    BubbleCompositor compositor(BubbleInstruction{kBlurredCircle, ZoomPath::none(), {}},
                                                std::move(backend));
                    WritableVideoFrame canvas = WritableVideoFrame::allocate(PixelFormat::bgra, width, height);
                    returnFreedMemory();
                    f.before = residentMegabytes();
                    for (int i = 0; i < frameCount(); ++i) {
                        if (!compositor.render(&screen, &camera, i / 30.0, canvas)) return false;
                    }
                    f.busy = residentMegabytes();
                }
                // The composition's end hands back what it freed.
                returnFreedMemory();
                f.idle = residentMegabytes();
                return true;
            },
            figures);
        report(state, ok, figures);
    }
}
BENCHMARK(BM_CompositorFrames)->ArgName("screen")->Arg(1920)->Arg(3840)->Iterations(1);

std::filesystem::path workFolder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "hk-idle-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return std::filesystem::path(pattern);
    }();
    return folder;
}

bool makeMovie(const std::filesystem::path& path, int width, int height, double seconds) {
    if (std::filesystem::exists(path)) return true;
    const std::string duration = std::to_string(seconds);
    const auto result = CommandRunner::run(
        "/usr/bin/ffmpeg",
        {"-v", "error", "-y", "-f", "lavfi", "-i",
         "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=30:duration=" + duration,
         "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + duration, "-c:v", "libx264",
         "-preset", "veryfast", "-crf", "20", "-pix_fmt", "yuv420p", "-c:a", "aac", path.string()},
        {}, false, std::chrono::minutes(10));
    return result.status == 0;
}

void BM_ComposeTake(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 9 / 16;
    const double seconds = benchsupport::envSeconds("HK_IDLE_SECONDS", 2);
    ComposeRequest request;
    request.screen = workFolder() / ("Screen" + std::to_string(width) + ".mov");
    request.camera = workFolder() / "Camera.mov";
    request.output = workFolder() / "Combined.mov";
    request.codec = VideoCodec::h264;
    request.style = kBlurredCircle;
    if (!makeMovie(request.screen, width, height, seconds) || !makeMovie(request.camera, 1920, 1080, seconds)) {
        state.SkipWithError("ffmpeg could not make the take");
        return;
    }
    for (auto _ : state) {
        Figures figures;
        const bool ok = inChild(
            [&](Figures& f) {
                returnFreedMemory();
                f.before = residentMegabytes();
                const auto composed = ScreenComposer::composeNow(request, [&f](float progress) {
                    if (progress > 0.9F && f.busy == 0) f.busy = residentMegabytes();
                });
                f.idle = residentMegabytes();
                return composed.has_value();
            },
            figures);
        report(state, ok, figures);
    }
    std::error_code ignored;
    std::filesystem::remove_all(workFolder(), ignored);
}
BENCHMARK(BM_ComposeTake)->ArgName("screen")->Arg(3840)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hollowkit
