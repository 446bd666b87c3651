// Frame to screen: 1920x1080 NV12 frames at 30 (and 60) fps from a
// delivering thread into the main window's video surface, at 1152x648 and
// full screen 1920x1080. Per frame: CPU on the delivering thread (convert
// and scale into the mailbox), CPU on the GUI thread (the wake-up, painting
// and putting the picture on screen), wake-ups posted to the GUI thread,
// the whole process's CPU (helper threads of the image library included),
// and frames shown against frames delivered (a backlog shows as fewer
// shown). Real time, paced like a camera; run it under Xvfb for the real
// X11 path:
//   xvfb-run -s "-screen 0 1920x1080x24" build/release/bench/window_frame_bench
// Without a display it uses Qt's offscreen platform.

#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "hollowkit/media/ffmpeg_log.h"
#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"

namespace {

using lumenhollow::FrameMailbox;

double cpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
double threadCpuSeconds() { return cpuSeconds(CLOCK_THREAD_CPUTIME_ID); }
// Also the image library's own helper threads, which scaling may use.
double processCpuSeconds() { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }

// A camera picture: a moving diagonal ramp, so no two frames are alike.
hollowkit::VideoFrame nv12Frame(int width, int height, int phase) {
    auto frame = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::nv12, width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.planeData(0) + frame.stride(0) * static_cast<size_t>(y);
        for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(16 + (x + y + phase * 8) % 220);
    }
    for (int y = 0; y < (height + 1) / 2; ++y) {
        uint8_t* row = frame.planeData(1) + frame.stride(1) * static_cast<size_t>(y);
        for (int x = 0; x < (width + 1) / 2; ++x) {
            row[2 * x] = static_cast<uint8_t>(128 + (x % 64) - 32);
            row[2 * x + 1] = static_cast<uint8_t>(128 + (y % 64) - 32);
        }
    }
    return std::move(frame).freeze({});
}

void BM_FrameToScreen(benchmark::State& state) {
    const int windowWidth = static_cast<int>(state.range(0));
    const int windowHeight = static_cast<int>(state.range(1));
    const int fps = static_cast<int>(state.range(2));
    const int frames = fps * 3;
    std::vector<hollowkit::VideoFrame> source;
    for (int i = 0; i < 8; ++i) source.push_back(nv12Frame(1920, 1080, i));

    double deliverCpu = 0;
    double guiCpu = 0;
    double processCpu = 0;
    FrameMailbox::Counts counts;
    for (auto _ : state) {
        lumenhollow::VideoFeed feed;
        lumenhollow::PreviewInput input({});
        lumenhollow::VideoSurface surface(feed, input);
        surface.resize(windowWidth, windowHeight);
        surface.show();
        QCoreApplication::processEvents();

        std::atomic<bool> done{false};
        std::atomic<double> deliveringCpu{0};
        const double guiStart = threadCpuSeconds();
        const double processStart = processCpuSeconds();
        std::thread camera([&] {
            const auto period = std::chrono::nanoseconds(1'000'000'000 / fps);
            auto next = std::chrono::steady_clock::now();
            double spent = 0;
            for (int i = 0; i < frames; ++i) {
                std::this_thread::sleep_until(next);
                next += period;
                const double before = threadCpuSeconds();
                feed.mailbox().push(source[static_cast<size_t>(i) % source.size()]);
                spent += threadCpuSeconds() - before;
            }
            deliveringCpu = spent;
            done = true;
        });
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done) loop.quit();
        });
        poll.start();
        loop.exec();
        camera.join();
        QCoreApplication::processEvents();  // the last frame
        guiCpu += threadCpuSeconds() - guiStart;
        processCpu += processCpuSeconds() - processStart;
        deliverCpu += deliveringCpu;
        const FrameMailbox::Counts run = feed.mailbox().counts();
        counts.pushed += run.pushed;
        counts.posted += run.posted;
        counts.taken += run.taken;
    }
    const double delivered = static_cast<double>(counts.pushed);
    state.counters["deliver_ms_per_frame"] = deliverCpu * 1e3 / delivered;
    state.counters["gui_ms_per_frame"] = guiCpu * 1e3 / delivered;
    state.counters["total_ms_per_frame"] = (deliverCpu + guiCpu) * 1e3 / delivered;
    state.counters["process_ms_per_frame"] = processCpu * 1e3 / delivered;
    state.counters["posts_per_frame"] = static_cast<double>(counts.posted) / delivered;
    state.counters["shown_per_delivered"] = static_cast<double>(counts.taken) / delivered;
}

BENCHMARK(BM_FrameToScreen)
    ->ArgNames({"w", "h", "fps"})
    ->Args({1152, 648, 30})
    ->Args({1920, 1080, 30})
    ->Args({1152, 648, 60})
    ->Args({1920, 1080, 60})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    hollowkit::installFfmpegLogging();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("QT_SCALE_FACTOR", "1");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
