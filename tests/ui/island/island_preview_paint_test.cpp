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

#include "hollowkit/testing/allocation_count.h"

#if HK_COUNTS_ALLOCATIONS

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
    const uint64_t before = hollowkit::testsupport::allocationsOnThread;
    widget.render(&into);
    return hollowkit::testsupport::allocationsOnThread - before;
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
