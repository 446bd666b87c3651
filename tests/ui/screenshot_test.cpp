#include <QImage>

#include <gtest/gtest.h>

#include "tools/screenshots/image_compare.h"
#include "tools/screenshots/shot_states.h"

namespace lumenhollow::shots {
namespace {

QImage golden(const std::string& name) {
    return QImage(QStringLiteral(LUMENHOLLOW_GOLDEN_DIR "/") + QString::fromStdString(name) + QStringLiteral(".png"));
}

// To renew a picture after a wanted change: lumenhollow-shots --out tests/ui/golden NAME,
// then look at it before committing it.
TEST(ScreenshotTest, EveryStateMatchesItsReferencePicture) {
    for (const ShotState& state : shotStates()) {
        SCOPED_TRACE(state.name);
        const QImage expected = golden(state.name);
        ASSERT_FALSE(expected.isNull()) << "no reference picture";
        const QImage actual = renderShot(state);
        if (state.panel == ShotPanel::none && !state.bottomBarOnly) {
            EXPECT_EQ(actual.size(), QSize(state.windowWidth, state.windowHeight));
        }
        const ImageDifference difference = compareImages(actual, expected);
        EXPECT_TRUE(matches(difference)) << difference.differingPixels << " of " << difference.pixels
                                         << " pixels differ";
    }
}

TEST(ScreenshotTest, TheComparisonToleratesNoiseButNotAMovedPicture) {
    const ShotState* wide = findShotState("video-16x9");
    const ShotState* boxed = findShotState("video-4x3-pillarbox");
    ASSERT_TRUE(wide && boxed);
    const QImage picture = golden(wide->name);
    ASSERT_FALSE(picture.isNull());

    QImage noisy = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < noisy.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(noisy.scanLine(y));
        for (int x = 0; x < noisy.width(); ++x) {
            const int shift = (x + y) % 2 == 0 ? 8 : -8;
            row[x] = qRgb(qBound(0, qRed(row[x]) + shift, 255), qBound(0, qGreen(row[x]) + shift, 255),
                          qBound(0, qBlue(row[x]) + shift, 255));
        }
    }
    EXPECT_TRUE(matches(compareImages(noisy, picture))) << "rasteriser noise within 8 per channel";
    EXPECT_FALSE(matches(compareImages(golden(boxed->name), picture))) << "pillarbox bars are a real change";
    EXPECT_FALSE(matches(compareImages(picture.scaled(100, 100), picture))) << "another size never matches";
}

}  // namespace
}  // namespace lumenhollow::shots
