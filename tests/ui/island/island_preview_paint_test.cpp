// The island's picture costs a copy per frame: painting the prepared picture
// takes no heap allocation of its own (a rounded clip or a stroked outline
// each paint would take dozens).

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "island_preview_harness.h"
#include "lumenhollow/testing/fake_camera.h"

// Heap allocations on the calling thread, counted by this binary's global
// operator new. Not under the sanitizers, which keep new and delete for
// themselves.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LH_ISLAND_COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LH_ISLAND_COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef LH_ISLAND_COUNTS_ALLOCATIONS
#define LH_ISLAND_COUNTS_ALLOCATIONS 1
#endif

#if LH_ISLAND_COUNTS_ALLOCATIONS
namespace {
thread_local uint64_t islandTestAllocations = 0;
}
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    ++islandTestAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    ++islandTestAllocations;
    const auto align = static_cast<std::size_t>(alignment);
    if (void* p = std::aligned_alloc(align, (std::max<std::size_t>(size, 1) + align - 1) / align * align)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace lumenhollow::ui {
namespace {

using lumenhollow::test::picture;
using test::PreviewHarness;

// A widget that only opens a painter: what any paint costs.
class PainterOnly final : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override { QPainter painter(this); }
};

// Allocations of rendering `widget` into `into`, warm (the second time).
uint64_t renderAllocations(QWidget& widget, QImage& into) {
    widget.render(&into);
    const uint64_t before = islandTestAllocations;
    widget.render(&into);
    return islandTestAllocations - before;
}

TEST(IslandPreviewPaint, PaintingThePreparedPictureAllocatesNothingOfItsOwn) {
    PreviewHarness h(true);
    h.emit(hollowkit::CameraEvent::stats(picture(1920, 1080)));
    h.open();
    IslandPreview& pane = h.preview();
    h.feed->mailbox().push(FakeCamera::makeFrame(1920, 1080));
    pane.showWaitingFrame();
    ASSERT_TRUE(pane.currentFrame());
    QImage target(pane.size(), QImage::Format_ARGB32_Premultiplied);
    PainterOnly plain;
    plain.resize(pane.size());
    const uint64_t painting = renderAllocations(plain, target);
    EXPECT_LE(renderAllocations(pane, target), painting);
}

// The corners blended in by hand look as the rounded clip and the hairline
// draw them.
TEST(IslandPreviewPaint, TheCornersMatchTheRoundedPane) {
    PreviewHarness h(true);
    h.emit(hollowkit::CameraEvent::stats(picture(1920, 1080)));
    h.open();
    IslandPreview& pane = h.preview();
    h.feed->mailbox().push(FakeCamera::makeFrame(1920, 1080));
    pane.showWaitingFrame();
    const hollowkit::VideoFrame& frame = pane.currentFrame();
    ASSERT_TRUE(frame);
    const QImage shown(frame.planeData(0), frame.width(), frame.height(), static_cast<qsizetype>(frame.stride(0)),
                       QImage::Format_RGB32);
    QImage drawn(pane.size(), QImage::Format_ARGB32_Premultiplied);
    drawn.fill(0);
    pane.render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren);
    QImage expected(pane.size(), QImage::Format_ARGB32_Premultiplied);
    expected.fill(0);
    {
        QPainter painter(&expected);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(pane.rect()), 16, 16);
        painter.setClipPath(rounded);
        painter.drawImage(QPoint(0, 0), shown);
        painter.setClipping(false);
        painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.08f), 1));
        painter.drawRoundedRect(QRectF(pane.rect()).adjusted(0.5, 0.5, -0.5, -0.5), 15.5, 15.5);
    }
    int worst = 0;
    for (int y = 0; y < pane.height(); ++y) {
        for (int x = 0; x < pane.width(); ++x) {
            const QRgb a = drawn.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            worst = std::max({worst, std::abs(qAlpha(a) - qAlpha(b)), std::abs(qRed(a) - qRed(b)),
                              std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
        }
    }
    EXPECT_LE(worst, 3);
}

}  // namespace
}  // namespace lumenhollow::ui
#endif
