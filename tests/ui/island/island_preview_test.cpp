// The open island's picture pane: the tracked face's brackets stand over
// the face where the pane shows it, also when the pane's clamped shape
// letterboxes the picture.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include <random>

#include "island_preview_harness.h"
#include "lumenhollow/ui/window/face_box_overlay.h"

namespace lumenhollow::ui {
namespace {

using hollowkit::CameraEvent;
using lumenhollow::test::picture;
using test::PreviewHarness;

TEST(IslandPreviewTest, TheFaceBoxStandsOverTheFaceInThePictureNotThePane) {
    // The face's corner near the picture's top left; the expected centre in
    // the pane is worked out by hand from the picture's place in the pane.
    const hollowkit::NormalizedRect face{0.1, 0.2, 0.2, 0.2};
    struct Case {
        const char* name;
        int width, height;       // the camera's picture
        QSize pane;              // the island's picture pane for it
        QPointF faceCentre;      // in the pane
    };
    const Case cases[] = {
        // 488 wide and 488/(16/9) = 274.5 high: the picture fills the pane.
        {"16:9 fills the pane", 1920, 1080, {488, 275}, {0.2 * 488, 0.3 * 275}},
        // Clamped to 300 high: the picture is 400x300, 44 in from the left.
        {"4:3 is pillarboxed", 1440, 1080, {488, 300}, {44 + 0.2 * 400, 0.3 * 300}},
        // Square: 300x300, 94 in.
        {"square is pillarboxed", 1080, 1080, {488, 300}, {94 + 0.2 * 300, 0.3 * 300}},
        // Very tall, clamped to the aspect 0.3: the pane is 118x392 and the
        // 1:4 picture in it 98x392, 10 in.
        {"1:4 is pillarboxed in the tall pane", 480, 1920, {118, 392}, {10 + 0.2 * 98, 0.3 * 392}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PreviewHarness h(true);
        h.emit(CameraEvent::stats(picture(c.width, c.height)));
        h.open();
        IslandPreview& pane = h.preview();
        ASSERT_EQ(pane.size(), c.pane);
        pane.setFace(face, h.model->previewAspect());
        QApplication::processEvents();
        const auto* overlay = pane.findChild<FaceBoxOverlay*>();
        ASSERT_NE(overlay, nullptr);
        ASSERT_TRUE(overlay->isVisibleTo(&pane));
        const QRectF brackets = faceBox(face, QSizeF(overlay->size())).translated(overlay->pos());
        EXPECT_NEAR(brackets.center().x(), c.faceCentre.x(), 1.0);
        EXPECT_NEAR(brackets.center().y(), c.faceCentre.y(), 1.0);
        // A face box of equal shares of the picture's width and height is
        // as wide to high as the picture: not stretched to the pane.
        const double shown = static_cast<double>(c.width) / c.height;
        EXPECT_NEAR(brackets.width() / brackets.height(), shown, 0.02 * shown);
    }
}

// A picture of noise, so any resampling changes the shown pixels.
hollowkit::VideoFrame noisePicture(int width, int height) {
    auto frame = hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::nv12, width, height);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(16, 235);
    for (int plane = 0; plane < 2; ++plane) {
        const int rows = plane == 0 ? height : (height + 1) / 2;
        for (int y = 0; y < rows; ++y) {
            uint8_t* row = frame.planeData(plane) + frame.stride(plane) * static_cast<size_t>(y);
            for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(value(random));
        }
    }
    return std::move(frame).freeze({});
}

// The picture prepared for the pane is shown pixel for pixel, also where
// centring it would put it on a fractional column.
TEST(IslandPreviewTest, ThePreparedPictureIsShownUnscaled) {
    struct Case {
        const char* name;
        int width, height;
    };
    const Case cases[] = {
        {"16:9, filling the pane", 1920, 1080},
        {"4:3, pillarboxed", 1440, 1080},
        // 401 wide in the 488 pane: centring it by its aspect puts it 43.5 in.
        {"pillarboxed by an odd margin", 1444, 1080},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PreviewHarness h(true);
        h.emit(CameraEvent::stats(picture(c.width, c.height)));
        h.open();
        IslandPreview& pane = h.preview();
        h.feed->mailbox().push(noisePicture(c.width, c.height));
        pane.showWaitingFrame();
        const hollowkit::VideoFrame& frame = pane.currentFrame();
        ASSERT_TRUE(frame);
        const QImage picture(frame.planeData(0), frame.width(), frame.height(),
                             static_cast<qsizetype>(frame.stride(0)), QImage::Format_RGB32);
        const std::optional<QPoint> at =
            exactPicturePosition(pane.width(), pane.height(), frame.width(), frame.height());
        ASSERT_TRUE(at.has_value());
        const QImage shot = pane.grab().toImage().convertToFormat(QImage::Format_RGB32);
        // Inside the rounded corners and the border.
        int differing = 0;
        for (int y = 20; y < pane.height() - 20; ++y) {
            for (int x = std::max(20, at->x()); x < std::min(pane.width() - 20, at->x() + frame.width()); ++x) {
                differing += shot.pixel(x, y) != picture.pixel(x - at->x(), y - at->y());
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

}  // namespace
}  // namespace lumenhollow::ui
