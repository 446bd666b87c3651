#include "lumenhollow/ui/window/guide_overlay.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow::test {
namespace {

constexpr int kGrey = 128;

// The overlay drawn over a plain grey picture of `size`.
QImage renderGuides(const std::set<GuideKind>& guides, QSize size) {
    QWidget parent;
    GuideOverlay overlay(&parent);
    overlay.resize(size);
    overlay.setGuides(guides);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(kGrey, kGrey, kGrey));
    QPainter painter(&image);
    overlay.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

enum class Looks { untouched, lighter, yellow, darker };

Looks classify(QRgb pixel) {
    const int r = qRed(pixel);
    const int g = qGreen(pixel);
    const int b = qBlue(pixel);
    if (r > kGrey + 15 && g > kGrey + 15 && b < kGrey - 15) return Looks::yellow;
    if (r > kGrey + 15 && g > kGrey + 15 && b > kGrey + 15) return Looks::lighter;
    if (r < kGrey - 15 && g < kGrey - 15 && b < kGrey - 15) return Looks::darker;
    return Looks::untouched;
}

const char* name(Looks looks) {
    switch (looks) {
        case Looks::untouched: return "untouched";
        case Looks::lighter: return "lighter";
        case Looks::yellow: return "yellow";
        case Looks::darker: return "darker";
    }
    return "?";
}

TEST(GuideOverlayTest, EachGuideMarksItsOwnPixelsAndNoOthers) {
    using enum GuideKind;
    struct Case {
        const char* name;
        std::set<GuideKind> guides;
        QSize size;
        QPoint probe;
        Looks looks;
    };
    // 600 × 300: thirds at x 200 and 400, y 100 and 200. 640 × 360: the
    // column runs from 218.75 to 421.25.
    const std::vector<Case> cases{
        {"a vertical third", {grid}, {600, 300}, {200, 40}, Looks::lighter},
        {"the other vertical third", {grid}, {600, 300}, {400, 250}, Looks::lighter},
        {"a horizontal third", {grid}, {600, 300}, {50, 200}, Looks::lighter},
        {"beside a third", {grid}, {600, 300}, {215, 40}, Looks::untouched},
        {"the centre is no third", {grid}, {600, 300}, {300, 150}, Looks::untouched},
        {"the horizon left of centre", {horizon}, {600, 300}, {200, 150}, Looks::yellow},
        {"the horizon ends at 0.7 of the width", {horizon}, {600, 300}, {430, 150}, Looks::untouched},
        {"the horizon starts at 0.3 of the width", {horizon}, {600, 300}, {170, 150}, Looks::untouched},
        {"the ring's top, 3 above the centre", {horizon}, {600, 300}, {300, 147}, Looks::yellow},
        {"outside the ring", {horizon}, {600, 300}, {300, 141}, Looks::untouched},
        {"left of the column", {vertical}, {640, 360}, {100, 100}, Looks::darker},
        {"right of the column", {vertical}, {640, 360}, {630, 300}, Looks::darker},
        {"just left of the column's edge", {vertical}, {640, 360}, {214, 180}, Looks::darker},
        {"inside the column", {vertical}, {640, 360}, {320, 100}, Looks::untouched},
        {"just inside the column's edge", {vertical}, {640, 360}, {224, 180}, Looks::untouched},
        {"the column's outline", {vertical}, {640, 360}, {421, 180}, Looks::lighter},
        {"a portrait picture has no column", {vertical}, {360, 640}, {10, 10}, Looks::untouched},
        {"nor has a square one", {vertical}, {400, 400}, {10, 10}, Looks::untouched},
        {"all three: the horizon inside the column", {grid, horizon, vertical}, {640, 360}, {250, 180}, Looks::yellow},
        {"all three: beside the column", {grid, horizon, vertical}, {640, 360}, {100, 100}, Looks::darker},
        {"nothing chosen", {}, {640, 360}, {213, 120}, Looks::untouched},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage image = renderGuides(c.guides, c.size);
        const QRgb pixel = image.pixel(c.probe);
        EXPECT_EQ(classify(pixel), c.looks) << "found " << name(classify(pixel)) << " (" << qRed(pixel) << ","
                                            << qGreen(pixel) << "," << qBlue(pixel) << ")";
    }
}

TEST(GuideOverlayTest, TheHorizonIsTheKitsWarningYellow) {
    // Over the grey, the line lifts red and green in the proportion of the
    // yellow's own channels above the grey: about 0.6 for #FFCC00, 1 for a
    // pure #FFFF00.
    const QColor yellow = ui::warningYellowColor();
    const double expected = double(yellow.green() - kGrey) / (yellow.red() - kGrey);
    const QRgb pixel = renderGuides({GuideKind::horizon}, {600, 300}).pixel(200, 150);
    ASSERT_GT(qRed(pixel), kGrey + 15);
    const double lift = double(qGreen(pixel) - kGrey) / (qRed(pixel) - kGrey);
    EXPECT_NEAR(lift, expected, 0.1) << qRed(pixel) << "," << qGreen(pixel) << "," << qBlue(pixel);
}

TEST(GuideOverlayTest, TheDarkeningLiesOverTheGridAndHorizon) {
    using enum GuideKind;
    // x 213 is a third of 640 and lies left of the column.
    const QPoint onThirdBesideColumn(213, 60);
    const QRgb gridAlone = renderGuides({grid}, {640, 360}).pixel(onThirdBesideColumn);
    const QRgb darkened = renderGuides({grid, vertical}, {640, 360}).pixel(onThirdBesideColumn);
    EXPECT_LT(qRed(darkened), qRed(gridAlone) - 30) << "the line is dimmed with the rest";
    EXPECT_GT(qRed(darkened), qRed(renderGuides({vertical}, {640, 360}).pixel(onThirdBesideColumn)))
        << "but still shows through";
    for (const QSize size : {QSize(640, 360), QSize(360, 640)}) {
        QImage plain(size, QImage::Format_RGB32);
        plain.fill(QColor(kGrey, kGrey, kGrey));
        EXPECT_EQ(renderGuides(size.width() > size.height() ? std::set<GuideKind>{} : std::set<GuideKind>{vertical},
                               size),
                  plain)
            << "nothing chosen, and a column on a portrait picture, leave every pixel as it was";
    }
}

TEST(GuideOverlayTest, TheColumnIsNineSixteenthsOfTheHeightCentred) {
    struct Case {
        QSizeF size;
        std::optional<QRectF> column;
    };
    const std::vector<Case> cases{
        {{640, 360}, QRectF(218.75, 0, 202.5, 360)},
        {{1152, 648}, QRectF(393.75, 0, 364.5, 648)},
        {{361, 360}, QRectF(79.25, 0, 202.5, 360)},
        {{360, 360}, std::nullopt},
        {{360, 640}, std::nullopt},
        {{0, 0}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size.width() << "x" << c.size.height());
        EXPECT_EQ(verticalFrame(c.size), c.column);
    }
}

TEST(GuideOverlayTest, PathsFollowTheSizeAndTheChoice) {
    using enum GuideKind;
    const GuidePaths none = guidePaths({grid, horizon, vertical}, {0, 0});
    EXPECT_TRUE(none.grid.isEmpty() && none.horizon.isEmpty() && none.darkening.isEmpty())
        << "an empty picture rectangle draws nothing";
    const GuidePaths portrait = guidePaths({grid, vertical}, {360, 640});
    EXPECT_FALSE(portrait.grid.isEmpty());
    EXPECT_TRUE(portrait.darkening.isEmpty() && portrait.column.isEmpty());
    const GuidePaths wide = guidePaths({vertical}, {640, 360});
    EXPECT_EQ(wide.darkening.fillRule(), Qt::OddEvenFill);
    EXPECT_TRUE(wide.grid.isEmpty() && wide.horizon.isEmpty());
}

}  // namespace
}  // namespace lumenhollow::test
