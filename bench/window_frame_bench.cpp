// Frame to screen: 1920x1080 NV12 frames at 30 (and 60) fps from a
// delivering thread through the model's frame path into the main window's
// video surface, at 1152x648 and full screen 1920x1080. `offmain` 1: the
// window's sink takes frames on the delivering thread (as the app does);
// 0: the same sink reached through the main executor, one post per frame,
// so converting and scaling run on the GUI thread. Per frame: CPU on the delivering thread (convert
// and scale into the mailbox), CPU on the GUI thread (the wake-up, painting
// and putting the picture on screen), wake-ups posted to the GUI thread,
// the whole process's CPU (helper threads of the image library included),
// and frames shown against frames delivered (a backlog shows as fewer
// shown), and heap allocations per frame on each thread. The island's
// preview (`view` 1, 488x275) takes the same path. Real time, paced like a
// camera. Beside it, in the same run, the scale and conversion alone:
// ours against libswscale doing the same NV12 -> BGRA scale in one call
// with its fastest flags. Run it under Xvfb for the real X11 path:
//   xvfb-run -s "-screen 0 1920x1080x24" build/release/bench/window_frame_bench
// Without a display it uses Qt's offscreen platform.

#include <benchmark/benchmark.h>
#include <time.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "hollowkit/base/memory_settings.h"
#include "hollowkit/imaging/nv12_display_scaler.h"
#include "hollowkit/media/ffmpeg_log.h"
#include "hollowkit/testing/allocation_count.h"
#include "hollowkit/testing/fake_face_detector_backend.h"
#include "hollowkit/testing/fake_segmentation_backend.h"
#include "lumenhollow/model/frame_path.h"
#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/testing/counting_video_sink.h"
#include "lumenhollow/ui/island/island_preview.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"

namespace {

using lumenhollow::FrameMailbox;

// The first frames size the scratch and the pools; allocations are counted
// in the steady state after them.
constexpr int kWarmUpFrames = 10;

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

// The GUI thread as the main executor: every task is one queued call.
class GuiExecutor final : public hollowkit::Executor {
public:
    void post(hollowkit::Task task) override {
        posts_.fetch_add(1, std::memory_order_relaxed);
        QMetaObject::invokeMethod(qApp, std::move(task), Qt::QueuedConnection);
    }
    hollowkit::TaskId after(hollowkit::Duration, hollowkit::Task) override { return 0; }
    hollowkit::TaskId every(hollowkit::Duration, hollowkit::Task) override { return 0; }
    void cancel(hollowkit::TaskId) override {}
    bool isCurrent() const override { return QThread::currentThread() == qApp->thread(); }
    const hollowkit::Clock& clock() const override { return hollowkit::Clock::system(); }

    uint64_t posts() const { return posts_.load(std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> posts_{0};
};

// The window's sink as one that takes frames on the main executor only.
class OnMainSink final : public lumenhollow::VideoSink {
public:
    explicit OnMainSink(std::shared_ptr<lumenhollow::VideoFeed> feed) : feed_(std::move(feed)) {}
    void enqueue(const hollowkit::VideoFrame& frame) override { feed_->enqueue(frame); }
    bool hasFailed() const override { return false; }
    void flush() override { feed_->flush(); }
    void flushRemovingImage() override { feed_->flushRemovingImage(); }

private:
    const std::shared_ptr<lumenhollow::VideoFeed> feed_;
};

void BM_FrameToScreen(benchmark::State& state) {
    const int windowWidth = static_cast<int>(state.range(0));
    const int windowHeight = static_cast<int>(state.range(1));
    const int fps = static_cast<int>(state.range(2));
    const bool offMain = state.range(3) != 0;
    const bool island = state.range(4) != 0;
    const int frames = fps * 3;
    std::vector<hollowkit::VideoFrame> source;
    for (int i = 0; i < 8; ++i) source.push_back(nv12Frame(1920, 1080, i));

    double deliverCpu = 0;
    double guiCpu = 0;
    double processCpu = 0;
    FrameMailbox::Counts counts;
    uint64_t pathPosts = 0;
    uint64_t deliverAllocations = 0;
    uint64_t guiAllocations = 0;
    uint64_t guiCountedFrames = 0;
    for (auto _ : state) {
        GuiExecutor main;
        auto feedOwner = std::make_shared<lumenhollow::VideoFeed>();
        lumenhollow::VideoFeed& feed = *feedOwner;
        std::shared_ptr<lumenhollow::VideoSink> display = feedOwner;
        if (!offMain) display = std::make_shared<OnMainSink>(feedOwner);
        const lumenhollow::FramePath path(
            {std::make_shared<hollowkit::FrameProcessor>(), std::make_shared<lumenhollow::CaptureTap>(main.clock()),
             std::make_shared<hollowkit::FaceDetector>(15.0, std::make_unique<hollowkit::FakeFaceDetectorBackend>(),
                                                       main),
             std::make_shared<lumenhollow::AtomicFlag>(false), display,
             std::make_shared<lumenhollow::CountingVideoSink>(false),
             std::make_shared<hollowkit::BackgroundPreview>(std::make_unique<hollowkit::FakeSegmentationBackend>(),
                                                            main)},
            main);
        const uint64_t generation = path.displayGeneration();
        lumenhollow::PreviewInput input({});
        std::unique_ptr<QWidget> view;
        if (island) {
            view = std::make_unique<lumenhollow::ui::IslandPreview>(&feed, std::weak_ptr<lumenhollow::CameraModel>(),
                                                                    nullptr);
        } else {
            view = std::make_unique<lumenhollow::VideoSurface>(feed, input);
        }
        view->resize(windowWidth, windowHeight);
        view->show();
        QCoreApplication::processEvents();

        std::atomic<bool> done{false};
        std::atomic<double> deliveringCpu{0};
        std::atomic<uint64_t> deliveringAllocations{0};
        std::atomic<uint64_t> shownBeforeCounting{UINT64_MAX};
        uint64_t guiAllocationsStart = 0;
        const double guiStart = threadCpuSeconds();
        const double processStart = processCpuSeconds();
        std::thread camera([&] {
            const auto period = std::chrono::nanoseconds(1'000'000'000 / fps);
            auto next = std::chrono::steady_clock::now();
            double spent = 0;
            uint64_t allocations = 0;
            for (int i = 0; i < frames; ++i) {
                std::this_thread::sleep_until(next);
                next += period;
                const double before = threadCpuSeconds();
                const uint64_t allocationsBefore = hollowkit::testsupport::allocationsOnThread;
                path.handleVideo(source[static_cast<size_t>(i) % source.size()], generation);
                spent += threadCpuSeconds() - before;
                if (i >= kWarmUpFrames) allocations += hollowkit::testsupport::allocationsOnThread - allocationsBefore;
            }
            deliveringCpu = spent;
            deliveringAllocations = allocations;
            done = true;
        });
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (guiAllocationsStart == 0 && feed.mailbox().counts().pushed >= kWarmUpFrames) {
                guiAllocationsStart = hollowkit::testsupport::allocationsOnThread;
                shownBeforeCounting = feed.mailbox().counts().taken;
            }
            if (done) loop.quit();
        });
        poll.start();
        loop.exec();
        camera.join();
        QCoreApplication::processEvents();  // the last frame
        guiCpu += threadCpuSeconds() - guiStart;
        processCpu += processCpuSeconds() - processStart;
        deliverCpu += deliveringCpu;
        deliverAllocations += deliveringAllocations;
        guiAllocations += hollowkit::testsupport::allocationsOnThread - guiAllocationsStart;
        const FrameMailbox::Counts run = feed.mailbox().counts();
        guiCountedFrames += run.taken - std::min(run.taken, shownBeforeCounting.load());
        counts.pushed += run.pushed;
        counts.posted += run.posted;
        counts.taken += run.taken;
        pathPosts += main.posts();
    }
    const double delivered = static_cast<double>(counts.pushed);
    state.counters["deliver_ms_per_frame"] = deliverCpu * 1e3 / delivered;
    state.counters["gui_ms_per_frame"] = guiCpu * 1e3 / delivered;
    state.counters["total_ms_per_frame"] = (deliverCpu + guiCpu) * 1e3 / delivered;
    state.counters["process_ms_per_frame"] = processCpu * 1e3 / delivered;
    // The model's hops and the mailbox's wake-ups together.
    state.counters["posts_per_frame"] = static_cast<double>(counts.posted + pathPosts) / delivered;
    state.counters["shown_per_delivered"] = static_cast<double>(counts.taken) / delivered;
    // The model's frame path is counted with the delivery: what the mailbox
    // adds shows in BM_MailboxHandOver.
    const double counted = delivered - kWarmUpFrames * static_cast<double>(state.iterations());
    state.counters["deliver_allocs_per_frame"] = static_cast<double>(deliverAllocations) / counted;
    state.counters["gui_allocs_per_shown"] = static_cast<double>(guiAllocations) / static_cast<double>(guiCountedFrames);
}

BENCHMARK(BM_FrameToScreen)
    ->ArgNames({"w", "h", "fps", "offmain", "island"})
    ->ArgsProduct({{1152}, {648}, {30, 60}, {0, 1}, {0}})
    ->ArgsProduct({{1920}, {1080}, {30, 60}, {0, 1}, {0}})
    ->Args({488, 275, 30, 1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The scale and conversion alone, one 1920x1080 NV12 frame into BGRA at the
// shown size. `impl` 0: ours; 1: libswscale SWS_FAST_BILINEAR; 2: SWS_POINT;
// 3: SWS_BILINEAR (what ours does, for quality). One thread each. `cold` 1:
// eight source frames in turn, 24 MB, so each one comes from memory as a
// camera's frame does, not from the cache.
void BM_ScaleToBgra(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int impl = static_cast<int>(state.range(2));
    const bool cold = state.range(3) != 0;
    std::vector<hollowkit::VideoFrame> frames;
    for (int i = 0; i < (cold ? 8 : 1); ++i) frames.push_back(nv12Frame(1920, 1080, i));
    auto output = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::bgra, width, height);
    hollowkit::Nv12DisplayScaler scaler;
    SwsContext* context = nullptr;
    if (impl > 0) {
        const int flags = impl == 1 ? SWS_FAST_BILINEAR : impl == 2 ? SWS_POINT : SWS_BILINEAR;
        context = sws_getContext(1920, 1080, AV_PIX_FMT_NV12, width, height, AV_PIX_FMT_BGRA, flags, nullptr,
                                 nullptr, nullptr);
    }
    uint8_t* const targetPlanes[] = {output.planeData(0)};
    const int targetStrides[] = {static_cast<int>(output.stride(0))};
    const hollowkit::BgraTarget target{output.planeData(0), output.stride(0), width, height};
    const auto planesOf = [](const hollowkit::VideoFrame& frame) {
        return hollowkit::Nv12Planes{frame.planeData(0), frame.stride(0), frame.planeData(1), frame.stride(1),
                                       frame.width(),      frame.height()};
    };
    // The first frame makes the position tables and rows; counted after it.
    if (!context) scaler.draw(planesOf(frames[0]), target);
    uint64_t allocations = 0;
    size_t next = 0;
    for (auto _ : state) {
        const hollowkit::VideoFrame& frame = frames[next];
        next = (next + 1) % frames.size();
        const uint64_t before = hollowkit::testsupport::allocationsOnThread;
        if (context) {
            const uint8_t* const sourcePlanes[] = {frame.planeData(0), frame.planeData(1)};
            const int sourceStrides[] = {static_cast<int>(frame.stride(0)), static_cast<int>(frame.stride(1))};
            sws_scale(context, sourcePlanes, sourceStrides, 0, frame.height(), targetPlanes, targetStrides);
        } else {
            scaler.draw(planesOf(frame), target);
        }
        allocations += hollowkit::testsupport::allocationsOnThread - before;
        benchmark::DoNotOptimize(output.planeData(0)[0]);
    }
    if (context) sws_freeContext(context);
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / static_cast<double>(state.iterations());
    state.counters["avx2"] = hollowkit::Nv12DisplayScaler::usesAvx2() ? 1 : 0;
}

BENCHMARK(BM_ScaleToBgra)
    ->ArgNames({"w", "h", "impl", "cold"})
    ->ArgsProduct({{1152}, {648}, {0, 1, 2, 3}, {0, 1}})
    ->ArgsProduct({{1920}, {1080}, {0, 1, 2, 3}, {0, 1}})
    ->ArgsProduct({{488}, {275}, {0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// The mailbox's hand-over alone, push on this thread and take, as the
// delivering and GUI threads do it: heap allocations per frame once warm.
void BM_MailboxHandOver(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const hollowkit::VideoFrame frame = nv12Frame(1920, 1080, 0);
    FrameMailbox mailbox([] {});
    mailbox.setTargetSize(width, height);
    hollowkit::VideoFrame shown;
    for (int i = 0; i < kWarmUpFrames; ++i) {
        mailbox.push(frame);
        shown = mailbox.take();
    }
    uint64_t allocations = 0;
    for (auto _ : state) {
        const uint64_t before = hollowkit::testsupport::allocationsOnThread;
        mailbox.push(frame);
        shown = mailbox.take();
        allocations += hollowkit::testsupport::allocationsOnThread - before;
    }
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_MailboxHandOver)
    ->ArgNames({"w", "h"})
    ->Args({1152, 648})
    ->Args({1920, 1080})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    hollowkit::installFfmpegLogging();
    hollowkit::applyMemorySettings();
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
