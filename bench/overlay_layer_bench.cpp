// The overlay layer's cost per frame: the main window's video surface with a
// live 1080p picture already scaled to 1152×648 (as the delivering thread
// leaves it), rendered on the GUI thread into an image, with all three
// guides, a face box and a notice over it, against the picture and the
// window's controls alone; the difference is the overlays' share. Also the blurred glass backdrop made from each
// 1080p frame, which runs off the GUI thread, and the overlays drawn small
// for it on the GUI thread with each blur. Offscreen platform, animations
// off, so each run paints the same still frame.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>

#include <memory>
#include <vector>

#include "hollowkit/camera/camera_event.h"
#include "lumenhollow/model/camera_model.h"
#include "lumenhollow/testing/fake_model_services.h"
#include "lumenhollow/ui/kit/glass_backdrop.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/window/face_box_overlay.h"
#include "lumenhollow/ui/window/guide_overlay.h"
#include "lumenhollow/ui/window/live_backdrop.h"
#include "lumenhollow/ui/window/main_window.h"
#include "lumenhollow/ui/window/preview_overlays.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"

namespace {

using namespace lumenhollow;

// A camera picture with detail everywhere, BGRA.
hollowkit::VideoFrame pictureFrame(int width, int height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
            p[0] = static_cast<uint8_t>((x ^ y) & 255);
            p[1] = static_cast<uint8_t>(y * 255 / height);
            p[2] = static_cast<uint8_t>(x * 255 / width);
            p[3] = 255;
        }
    }
    const hollowkit::PlaneView plane{pixels.data(), static_cast<size_t>(width) * 4};
    return hollowkit::VideoFrame::copyFrom(hollowkit::PixelFormat::bgra, width, height, {&plane, 1}, {});
}

// The model with every service faked and a live 16:9 picture.
struct LiveModel : FakeModelServices {
    std::shared_ptr<VideoFeed> feed = std::make_shared<VideoFeed>();
    std::shared_ptr<CameraModel> model;

    LiveModel() {
        cameras.setPocketConnected(true);
        model = CameraModel::create(services(feed, feed, "/nonexistent-parent/Lumenhollow", fakeImaging(main)));
        model->camera().start();
        model->dismissSheets();
        hollowkit::CameraStats stats;
        stats.hasPicture = true;
        stats.framesPerSecond = 30;
        stats.resolution = hollowkit::VideoDimensions{1920, 1080};
        cameras.latest()->emit(hollowkit::CameraEvent::stats(stats));
        main.runUntilIdle();
    }
};

// The window of a live 16:9 picture, 1152×648, with all three guides and a
// face box (`overlays`) or none.
struct ShownWindow {
    LiveModel live;
    std::unique_ptr<ModelSignals> modelSignals;
    std::unique_ptr<MainWindow> window;
};

void showWindow(ShownWindow& shown, bool overlays) {
    if (overlays) shown.live.model->setGuides({GuideKind::grid, GuideKind::horizon, GuideKind::vertical});
    shown.modelSignals = std::make_unique<ModelSignals>(shown.live.model);
    shown.window = std::make_unique<MainWindow>(*shown.modelSignals, *shown.live.feed);
    MainWindow& window = *shown.window;
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.resize(1152, 648);
    window.show();
    QCoreApplication::processEvents();
    if (overlays) {
        FaceBoxOverlay& face = window.previewOverlays().faceBox();
        face.setFace(hollowkit::NormalizedRect{0.42, 0.22, 0.16, 0.3});
        face.show();
        QCoreApplication::processEvents();
    }
}

// The guides and the face box drawn at the glass scene's size, as each blur
// takes them on the GUI thread.
void BM_GlassMarkings1152x648(benchmark::State& state) {
    ShownWindow shown;
    showWindow(shown, true);
    MainWindow& window = *shown.window;
    QWidget& layer = *window.previewOverlays().guides().parentWidget();
    for (auto _ : state) benchmark::DoNotOptimize(drawGlassMarkings(layer, window.surface()));
}
BENCHMARK(BM_GlassMarkings1152x648)->Unit(benchmark::kMicrosecond);

void renderWindow(benchmark::State& state, bool overlays) {
    ShownWindow shown;
    showWindow(shown, overlays);
    LiveModel& live = shown.live;
    MainWindow& window = *shown.window;
    if (overlays) {
        // The toast stays: its three seconds run on the frozen clock.
        live.model->postNotice("Face tracking on");
        QCoreApplication::processEvents();
    }
    // Scaled to the surface on the way in, as the delivering thread does.
    live.feed->mailbox().push(pictureFrame(1920, 1080));
    window.surface().showWaitingFrame();
    QImage target(window.surface().size(), QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&target);
        window.surface().render(&painter);
    }
    state.counters["picture_px"] = window.surface().currentFrame().width();
}

void BM_PictureWithGuidesFaceBoxAndToast1152x648(benchmark::State& state) { renderWindow(state, true); }
BENCHMARK(BM_PictureWithGuidesFaceBoxAndToast1152x648)->Unit(benchmark::kMillisecond);

// The peer: the same window and picture with nothing drawn over it.
void BM_PictureAlone1152x648(benchmark::State& state) { renderWindow(state, false); }
BENCHMARK(BM_PictureAlone1152x648)->Unit(benchmark::kMillisecond);

// Made once per frame on the thread that delivers it.
void BM_GlassBackdropPerFrame1080p(benchmark::State& state) {
    const hollowkit::VideoFrame frame = pictureFrame(1920, 1080);
    const QImage image(frame.planeData(0), frame.width(), frame.height(), static_cast<qsizetype>(frame.stride(0)),
                       QImage::Format_RGB32);
    for (auto _ : state) benchmark::DoNotOptimize(ui::makeGlassBackdrop(image));
}
BENCHMARK(BM_GlassBackdropPerFrame1080p)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "1");
    QApplication app(argc, argv);
    ui::applyLook(app);
    ui::setAnimationsEnabled(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
