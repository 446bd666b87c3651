// The glass kit's costs: the blurred backdrop made from each 1080p frame off
// the GUI thread, and painting a window's worth of glass controls over a
// 1152×648 picture on the GUI thread, with the heap allocations each paint
// makes (counted at malloc, which every library's allocations go through).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>
#include <cstddef>

#include "hollowkit/testing/allocation_count.h"
#include "lumenhollow/ui/kit/glass_backdrop.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/pill_menu.h"
#include "lumenhollow/ui/kit/record_pill.h"
#include "lumenhollow/ui/kit/status_pill.h"

namespace {

using namespace lumenhollow;
using namespace lumenhollow::ui;
using namespace std::chrono_literals;

QImage testFrame(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) row[x] = qRgb(x * 255 / size.width(), y * 255 / size.height(), (x ^ y) & 255);
    }
    return image;
}

void BM_GlassBackdropFrom1080p(benchmark::State& state) {
    const QImage frame = testFrame({1920, 1080});
    for (auto _ : state) benchmark::DoNotOptimize(makeGlassBackdrop(frame));
}
BENCHMARK(BM_GlassBackdropFrom1080p)->Unit(benchmark::kMillisecond);

// What the window makes from each frame it shows: the frame at the
// window's default size, as the mailbox has scaled it.
void BM_GlassBackdropFromShownFrame(benchmark::State& state) {
    const QImage frame = testFrame({1152, 648});
    for (auto _ : state) benchmark::DoNotOptimize(makeGlassBackdrop(frame));
}
BENCHMARK(BM_GlassBackdropFromShownFrame)->Unit(benchmark::kMillisecond);

// Paints `surface` into `target` once per iteration and reports the heap
// allocations each paint made.
void paintRepeatedly(benchmark::State& state, QWidget& surface, QImage& target) {
    {
        QPainter warm(&target);  // the first paint fills the caches
        surface.render(&warm);
    }
    const uint64_t before = hollowkit::testsupport::allocationsInProcess.load();
    for (auto _ : state) {
        QPainter painter(&target);
        surface.render(&painter);
    }
    state.counters["allocs/paint"] =
        static_cast<double>(hollowkit::testsupport::allocationsInProcess.load() - before) / static_cast<double>(state.iterations());
}

class Surface : public QWidget {
public:
    explicit Surface(const QImage& picture) : picture_(picture) {
        backdrop_.set(makeGlassBackdrop(picture_));
        GlassBackdrop::attach(this, &backdrop_);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(0, 0, picture_); }

private:
    QImage picture_;
    GlassBackdrop backdrop_;
};

void BM_GlassControlsOver1152x648(benchmark::State& state) {
    const QImage picture = testFrame({1920, 1080}).scaled(1152, 648);
    Surface surface(picture);
    surface.resize(1152, 648);
    auto* column = new QVBoxLayout(&surface);
    auto* top = new QHBoxLayout;
    auto* status = new StatusPill(&surface);
    PublishedState published;
    published.battery = hollowkit::BatteryStatus{80, false};
    published.cardStorage = hollowkit::CardStorage{12800, 61035};
    published.macFreeBytes = 245'800'000'000;
    status->setState(statusPill(published, false));
    top->addStretch();
    top->addWidget(status);
    for (const char* symbol : {"folder", "gearshape"}) top->addWidget(new IconButton(symbol, {}, 30, &surface));
    column->addLayout(top);
    column->addStretch();
    auto* capture = new QHBoxLayout;
    capture->addStretch();
    capture->addWidget(new IconButton("camera", {}, 40, &surface));
    auto* record = new RecordPill([] { return hollowkit::WallTime{} + 61s; }, &surface);
    RecordPillInputs inputs;
    inputs.hasPicture = true;
    inputs.recordingStarted = hollowkit::WallTime{};
    inputs.recordScreen = true;
    record->setInputs(inputs);
    capture->addWidget(record);
    capture->addWidget(new IconButton("person.fill.viewfinder", {}, 40, &surface));
    capture->addStretch();
    column->addLayout(capture);
    auto* bar = new QHBoxLayout;
    bar->addWidget(new PillMenu("grid", QStringLiteral("Guide"), &surface));
    bar->addWidget(new PillMenu("circle.lefthalf.filled", QStringLiteral("LUT"), &surface));
    bar->addStretch();
    bar->addWidget(new PillMenu("cable.connector", QStringLiteral("Osmo Pocket · USB"), &surface));
    bar->addStretch();
    for (const char* symbol : {"arrow.up.left.and.arrow.down.right", "crop", "scope", "arrow.uturn.backward.circle"}) {
        bar->addWidget(new IconButton(symbol, {}, 32, &surface));
    }
    column->addLayout(bar);
    surface.ensurePolished();
    column->activate();

    QImage target(1152, 648, QImage::Format_RGB32);
    paintRepeatedly(state, surface, target);
}
BENCHMARK(BM_GlassControlsOver1152x648)->Unit(benchmark::kMillisecond);

// The peer: the same picture with no controls, so the glass's share is the
// difference.
void BM_PictureAlone1152x648(benchmark::State& state) {
    Surface surface(testFrame({1920, 1080}).scaled(1152, 648));
    surface.resize(1152, 648);
    QImage target(1152, 648, QImage::Format_RGB32);
    paintRepeatedly(state, surface, target);
}
BENCHMARK(BM_PictureAlone1152x648)->Unit(benchmark::kMillisecond);

// The toolkit's own share: as many widgets in the same places, each
// opening a painter and drawing nothing, so what the glass itself costs is
// the difference.
class Blank : public QWidget {
public:
    Blank(QSize size, QWidget* parent) : QWidget(parent) {
        setFixedSize(size);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter painter(this); }
};

void BM_BlankWidgetsOver1152x648(benchmark::State& state) {
    Surface surface(testFrame({1920, 1080}).scaled(1152, 648));
    surface.resize(1152, 648);
    auto* column = new QVBoxLayout(&surface);
    auto* top = new QHBoxLayout;
    top->addStretch();
    for (QSize size : {QSize(260, 30), QSize(30, 30), QSize(30, 30)}) top->addWidget(new Blank(size, &surface));
    column->addLayout(top);
    column->addStretch();
    auto* capture = new QHBoxLayout;
    capture->addStretch();
    for (QSize size : {QSize(40, 40), QSize(120, 40), QSize(40, 40)}) capture->addWidget(new Blank(size, &surface));
    capture->addStretch();
    column->addLayout(capture);
    auto* bar = new QHBoxLayout;
    for (QSize size : {QSize(90, 30), QSize(80, 30), QSize(170, 30)}) bar->addWidget(new Blank(size, &surface));
    bar->addStretch();
    for (int i = 0; i < 4; ++i) bar->addWidget(new Blank(QSize(32, 32), &surface));
    column->addLayout(bar);
    surface.ensurePolished();
    column->activate();
    QImage target(1152, 648, QImage::Format_RGB32);
    paintRepeatedly(state, surface, target);
}
BENCHMARK(BM_BlankWidgetsOver1152x648)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    applyLook(app);
    setAnimationsEnabled(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
