// The island's picture is prepared for the pixels of the screen the island
// is on now: reaching a screen of another scale tells the feed again.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include "island_preview_harness.h"
#include "lumenhollow/testing/fake_camera.h"

namespace lumenhollow::ui {
namespace {

using test::PreviewHarness;

TEST(IslandPreviewScale, TheVideoTargetFollowsTheScreenTheIslandIsOn) {
    PreviewHarness h(true);
    h.open();
    IslandPreview& preview = h.preview();
    ASSERT_TRUE(preview.isVisible());
    // As left behind by a screen of another scale.
    h.feed->mailbox().setTargetSize(64, 36);
    QEvent moved(QEvent::ScreenChangeInternal);
    QCoreApplication::sendEvent(&preview, &moved);
    h.feed->mailbox().push(FakeCamera::makeFrame(1920, 1080));
    const hollowkit::VideoFrame shown = h.feed->mailbox().take();
    ASSERT_TRUE(shown);
    const qreal ratio = preview.devicePixelRatioF();
    // The frame's own aspect, fitted into the preview's device pixels.
    const FrameMailbox::PixelSize fitted = FrameMailbox::preparedSize(
        1920, 1080, qRound(preview.width() * ratio), qRound(preview.height() * ratio));
    EXPECT_EQ(shown.width(), fitted.width);
    EXPECT_EQ(shown.height(), fitted.height);
    EXPECT_GT(shown.width(), 64);
}

}  // namespace
}  // namespace lumenhollow::ui
