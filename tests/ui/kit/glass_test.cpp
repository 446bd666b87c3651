#include "lumenhollow/ui/kit/glass.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

#include "lumenhollow/ui/kit/glass_backdrop.h"
#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow::ui {
namespace {

TEST(GlassBackdropImage, ShrinksAndSoftensEdges) {
    QImage frame(160, 90, QImage::Format_RGB32);
    frame.fill(Qt::black);
    QPainter(&frame).fillRect(80, 0, 80, 90, Qt::white);
    const QImage backdrop = makeGlassBackdrop(frame, 8, 2);
    ASSERT_EQ(backdrop.size(), QSize(20, 11));
    // Far from the edge the colours stay; at the edge they blend.
    EXPECT_LT(qRed(backdrop.pixel(1, 5)), 8);
    EXPECT_GT(qRed(backdrop.pixel(18, 5)), 247);
    const int atEdge = qRed(backdrop.pixel(10, 5));
    EXPECT_GT(atEdge, 40);
    EXPECT_LT(atEdge, 215);
    EXPECT_TRUE(makeGlassBackdrop(QImage()).isNull());
    EXPECT_EQ(makeGlassBackdrop(QImage(3, 3, QImage::Format_RGB32), 8).size(), QSize(1, 1));
}

// A surface over a root that may carry a backdrop, drawn into an image.
QImage render(GlassBackdrop* backdrop, std::optional<QColor> tint) {
    QWidget root;
    root.resize(200, 100);
    root.setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::black);
    root.setPalette(palette);
    if (backdrop) GlassBackdrop::attach(&root, backdrop);
    auto* surface = new GlassSurface(GlassShape::roundedRect, &root, 4);
    surface->setGeometry(50, 20, 100, 60);
    surface->setTint(tint);
    return root.grab().toImage();
}

TEST(GlassSurface, DrawsTheBlurredPictureWhereItLiesUnderTheSurface) {
    // Left half red, right half blue, across the whole root.
    QImage picture(20, 10, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::blue);
    QPainter(&picture).fillRect(0, 0, 10, 10, Qt::red);
    GlassBackdrop backdrop;
    backdrop.set(picture, QRectF(0, 0, 200, 100));
    const QImage image = render(&backdrop, std::nullopt);
    const QColor left = image.pixelColor(60, 50);
    const QColor right = image.pixelColor(140, 50);
    EXPECT_GT(left.red(), 120);
    EXPECT_LT(left.blue(), 40);
    EXPECT_GT(right.blue(), 120);
    EXPECT_LT(right.red(), 40);
    // Outside the surface nothing was drawn.
    EXPECT_EQ(image.pixelColor(20, 50), QColor(Qt::black));
}

// A surface keeps what it found between paints, yet follows what changes:
// a backdrop attached after its first paint, a move to another root, a new
// size and a new picture.
TEST(GlassSurface, KeptBetweenPaintsFollowsTheBackdropTheParentTheSizeAndThePicture) {
    QImage red(20, 10, QImage::Format_ARGB32_Premultiplied);
    red.fill(Qt::red);
    QImage blue = red;
    blue.fill(Qt::blue);
    const auto rootWith = [](QWidget& root) {
        root.resize(200, 100);
        root.setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, Qt::black);
        root.setPalette(palette);
    };
    QWidget first;
    QWidget second;
    rootWith(first);
    rootWith(second);
    auto* surface = new GlassSurface(GlassShape::roundedRect, &first, 4);
    surface->setGeometry(50, 20, 100, 60);
    const auto middle = [&](QWidget& root) { return root.grab().toImage().pixelColor(100, 50); };

    const QColor plain = middle(first);
    GlassBackdrop backdrop;
    backdrop.set(red, QRectF(0, 0, 200, 100));
    GlassBackdrop::attach(&first, &backdrop);
    EXPECT_GT(middle(first).red(), plain.red() + 100) << "attached after the first paint";

    GlassBackdrop other;
    other.set(blue, QRectF(0, 0, 200, 100));
    GlassBackdrop::attach(&second, &other);
    surface->setParent(&second);
    surface->show();
    QColor moved = middle(second);
    EXPECT_GT(moved.blue(), 100) << "the new root's picture";
    EXPECT_LT(moved.red(), 40);

    other.set(red, QRectF(0, 0, 200, 100));
    moved = middle(second);
    EXPECT_GT(moved.red(), 100) << "the new picture";

    surface->setGeometry(10, 10, 180, 80);
    const QImage grown = second.grab().toImage();
    EXPECT_GT(grown.pixelColor(12, 50).red(), 100) << "the outline follows the size";
}

TEST(GlassSurface, WithoutAPictureIsASolidDarkFill) {
    GlassBackdrop empty;
    for (GlassBackdrop* backdrop : {static_cast<GlassBackdrop*>(nullptr), &empty}) {
        const QColor inside = render(backdrop, std::nullopt).pixelColor(100, 50);
        // The dark fill at 0.9, then black at 0.35, over black.
        const int expected = static_cast<int>(std::lround(0x1c * 0.9 * 0.65));
        EXPECT_NEAR(inside.red(), expected, 2);
        EXPECT_NEAR(inside.blue(), static_cast<int>(std::lround(0x1e * 0.9 * 0.65)), 2);
    }
}

TEST(GlassSurface, TintReplacesTheBlackFillAndKeepsItsOwnOpacity) {
    const QColor plain = render(nullptr, std::nullopt).pixelColor(100, 50);
    const QColor red = render(nullptr, QColor(Qt::red)).pixelColor(100, 50);
    const QColor faint = render(nullptr, withOpacity(QColor(Qt::red), 0.35)).pixelColor(100, 50);
    EXPECT_NEAR(red.red(), static_cast<int>(std::lround(255 * 0.35 + 0x1c * 0.9 * 0.65)), 3);
    EXPECT_GT(faint.red(), plain.red() + 15);
    EXPECT_LT(faint.red(), red.red() - 40);
}

TEST(GlassSurface, BorderIsAFaintWhiteLineInsideTheEdge) {
    const QImage image = render(nullptr, std::nullopt);
    const QColor edge = image.pixelColor(100, 20);   // first row of the surface
    const QColor inside = image.pixelColor(100, 22);
    EXPECT_GT(edge.red(), inside.red() + 15);
    EXPECT_EQ(image.pixelColor(100, 19), QColor(Qt::black));
}

TEST(IconButton, WholeCircleTakesTheClickButNotItsCorners) {
    IconButton button("crop", QStringLiteral("Auto frame (Ctrl+F)"), 32, nullptr);
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(16, 16));
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(4, 16));  // off the glyph, on the circle
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(1, 1));   // the square's corner
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(button.toolTip(), QStringLiteral("Auto frame (Ctrl+F)"));
    EXPECT_EQ(button.focusPolicy(), Qt::NoFocus);
}

}  // namespace
}  // namespace lumenhollow::ui
