// Pictures drawn once and blitted are drawn at the screen's scale, so they
// stay sharp at 1.5 and 2; and the live picture is prepared for the pixels
// of the screen the window is on now.

#include <QBuffer>
#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <functional>

#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/testing/fake_camera.h"
#include "lumenhollow/ui/panels/scene_row.h"
#include "lumenhollow/ui/window/countdown_overlay.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/video_surface.h"
#include "lumenhollow/ui/window/welcome_sheet.h"

namespace lumenhollow::test {
namespace {

struct CachedPicture {
    QSize devicePixels;
    qreal ratio = 0;
};

TEST(HiDpiPicturesTest, CachedPicturesHoldLogicalSizeTimesTheScaleInDevicePixels) {
    const struct {
        const char* name;
        QSize logical;
        std::function<CachedPicture(qreal)> draw;
    } pictures[] = {
        {"countdown", countdownNumberSize(),
         [](qreal ratio) {
             const QImage image = countdownNumber(3, ratio);
             return CachedPicture{image.size(), image.devicePixelRatio()};
         }},
        {"scene placeholder", SceneRow::kThumbnailSize,
         [](qreal ratio) {
             const QPixmap pixmap = scenePicture(std::nullopt, 0, ratio);
             return CachedPicture{pixmap.size(), pixmap.devicePixelRatio()};
         }},
        {"scene thumbnail", SceneRow::kThumbnailSize,
         [](qreal ratio) {
             // A 4:3 picture fills the 16:9 frame, its overflow cut off.
             QImage photo(640, 480, QImage::Format_RGB32);
             photo.fill(Qt::darkCyan);
             QByteArray jpeg;
             QBuffer buffer(&jpeg);
             photo.save(&buffer, "JPG");
             const QPixmap pixmap = scenePicture(hollowkit::Bytes(jpeg.begin(), jpeg.end()), 1, ratio);
             return CachedPicture{pixmap.size(), pixmap.devicePixelRatio()};
         }},
        {"welcome icon", QSize(WelcomeSheet::kIconSize, WelcomeSheet::kIconSize),
         [](qreal ratio) {
             const QPixmap pixmap = welcomeIcon(WelcomeSheet::kIconSize, ratio);
             return CachedPicture{pixmap.size(), pixmap.devicePixelRatio()};
         }},
    };
    for (const auto& picture : pictures) {
        for (const qreal ratio : {1.0, 1.5, 2.0}) {
            const CachedPicture cached = picture.draw(ratio);
            EXPECT_EQ(cached.devicePixels, (QSizeF(picture.logical) * ratio).toSize()) << picture.name << " @" << ratio;
            EXPECT_DOUBLE_EQ(cached.ratio, ratio) << picture.name << " @" << ratio;
        }
    }
}

// The surface tells the feed its size in device pixels again when the
// window reaches another screen, so frames are prepared for that screen.
TEST(HiDpiPicturesTest, TheVideoTargetFollowsTheScreenTheSurfaceIsOn) {
    VideoFeed feed;
    PreviewInput input({});
    VideoSurface surface(feed, input);
    surface.resize(400, 225);
    surface.show();
    // As left behind by a screen of another scale.
    feed.mailbox().setTargetSize(64, 36);
    QEvent moved(QEvent::ScreenChangeInternal);
    QCoreApplication::sendEvent(&surface, &moved);
    feed.mailbox().push(FakeCamera::makeFrame(1920, 1080));
    const hollowkit::VideoFrame shown = feed.mailbox().take();
    ASSERT_TRUE(shown);
    const qreal ratio = surface.devicePixelRatioF();
    EXPECT_EQ(shown.width(), qRound(400 * ratio));
    EXPECT_EQ(shown.height(), qRound(225 * ratio));
}

}  // namespace
}  // namespace lumenhollow::test
