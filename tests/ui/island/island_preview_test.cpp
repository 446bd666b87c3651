// The open island's picture pane: the tracked face's brackets stand over
// the face where the pane shows it, also when the pane's clamped shape
// letterboxes the picture.

#include <gtest/gtest.h>

#include <QApplication>

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

}  // namespace
}  // namespace lumenhollow::ui
