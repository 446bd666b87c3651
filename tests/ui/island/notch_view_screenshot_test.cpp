// Screenshots of the island as the panel holds it: collapsed and open, on a
// plain screen and on a notched one (through the fake notch), compared with
// their goldens by tolerance; and the outline's extent measured directly.

#include <gtest/gtest.h>

#include <QImage>

#include <string>
#include <vector>

#include "island_fakes.h"
#include "lumenhollow/ui/island/notch_view.h"
#include "screenshot_compare.h"

namespace lumenhollow::ui {
namespace {

using test::FakeScreenSource;
using test::IslandHarness;

// The bounding box of the opaque black pixels.
QRect blackBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) == 255 && qRed(p) < 8 && qGreen(p) < 8 && qBlue(p) < 8) box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

TEST(NotchViewScreenshots, CollapsedAndOpen) {
    struct Shot {
        std::string name;
        ScreenInfo screen;
        bool open;
        QRect black;
        int shoulder;  // antialiased edges (the flared top corners, round ends) are not pure black
    };
    const std::vector<Shot> shots = {
        {"island-collapsed", FakeScreenSource::plainScreen(), false, QRect(195, 0, 210, 30), 1},
        {"island-expanded", FakeScreenSource::plainScreen(), true, QRect(40, 0, 520, 381), 0},
        {"island-notch-collapsed", FakeScreenSource::notchedScreen(), false, QRect(122, 0, 356, 32), 7},
        {"island-notch-expanded", FakeScreenSource::notchedScreen(), true, QRect(40, 0, 520, 383), 14},
    };
    for (const Shot& shot : shots) {
        IslandHarness h({shot.screen});
        h.model->setNotchTrigger(NotchTrigger::click);
        if (shot.open) h.controller->islandTapped();
        QImage image(NotchSizes::panel, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        h.controller->view().render(&image, {}, {}, QWidget::RenderFlags());
        const QRect black = blackBox(image);
        // The body is solid black from wall to wall; nothing black lies beyond
        // the outline (the shadow is translucent).
        EXPECT_TRUE(shot.black.contains(black)) << shot.name;
        EXPECT_TRUE(black.contains(shot.black.adjusted(shot.shoulder, 0, -shot.shoulder, 0))) << shot.name;
        const bool shaded = qAlpha(image.pixel(300, shot.black.bottom() + 6)) > 0;
        EXPECT_EQ(shaded, shot.open) << shot.name << ": the shadow shows only while open";
        EXPECT_EQ(qAlpha(image.pixel(5, 455)), 0) << shot.name << ": the rest of the panel is clear";
        const std::string mismatch = testing::matchGolden(image, QString::fromStdString(shot.name));
        EXPECT_TRUE(mismatch.empty()) << shot.name << ": " << mismatch;
    }
}

}  // namespace
}  // namespace lumenhollow::ui
