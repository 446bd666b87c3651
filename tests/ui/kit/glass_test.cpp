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

// What the glass blurs is the whole surface as shown: black bars beside a
// letterboxed frame stay black, the shades darken what lies under them.
TEST(GlassBackdropImage, TheSceneIsTheWholeAreaWithItsBarsAndShades) {
    QImage frame(160, 80, QImage::Format_RGB32);
    frame.fill(Qt::white);
    const GlassShade shade{QRectF(0, 0, 320, 160), 1.0, 0.0};  // the upper half, black fading to clear
    const QImage scene = makeGlassScene(frame, QSizeF(320, 320), QRectF(0, 80, 320, 160), {&shade, 1}, {}, 8, 1);
    ASSERT_EQ(scene.size(), QSize(40, 40));
    const struct {
        const char* where;
        QPoint at;  // in the scene's pixels
        int low;
        int high;
    } cases[] = {
        {"the bar above", {20, 2}, 0, 3},
        {"the bar below", {20, 37}, 0, 3},
        {"the frame under the shade", {20, 12}, 130, 185},
        {"the frame below the shade", {20, 25}, 250, 255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        const int value = qRed(scene.pixel(c.at));
        EXPECT_GE(value, c.low);
        EXPECT_LE(value, c.high);
    }
    EXPECT_TRUE(makeGlassScene(QImage(), QSizeF(320, 320), QRectF(0, 0, 320, 320), {}).isNull());
    EXPECT_TRUE(makeGlassScene(frame, QSizeF(), QRectF(0, 0, 320, 320), {}).isNull());
}

// What is drawn over the picture (a guide's darkening beside its column)
// lies in the scene over the frame, where it was drawn.
TEST(GlassBackdropImage, TheSceneHoldsTheMarkingsOverThePicture) {
    QImage frame(160, 80, QImage::Format_RGB32);
    frame.fill(Qt::white);
    // Drawn at the scene's scale over the picture's 320 x 160: its left
    // half darkened at 0.5.
    QImage marks(40, 20, QImage::Format_ARGB32_Premultiplied);
    marks.fill(Qt::transparent);
    QPainter(&marks).fillRect(0, 0, 20, 20, QColor(0, 0, 0, 128));
    const GlassMarkings markings{marks, QRectF(0, 80, 320, 160)};
    const QImage scene = makeGlassScene(frame, QSizeF(320, 320), QRectF(0, 80, 320, 160), {}, markings, 8, 1);
    ASSERT_EQ(scene.size(), QSize(40, 40));
    EXPECT_NEAR(qRed(scene.pixel(6, 20)), 127, 3) << "under the darkening";
    EXPECT_GT(qRed(scene.pixel(34, 20)), 250) << "beside it";
    EXPECT_LT(qRed(scene.pixel(6, 2)), 3) << "the bar above";
}

// A root that paints `frame` letterboxed at `pictureRect`, black around it,
// and carries the blurred scene of it: the video surface in small.
class LetterboxRoot : public QWidget {
public:
    LetterboxRoot(QImage frame, QRect pictureRect) : frame_(std::move(frame)), pictureRect_(pictureRect) {
        resize(400, 400);
        backdrop_.set(makeGlassScene(frame_, QSizeF(size()), pictureRect_, {}));
        GlassBackdrop::attach(this, &backdrop_);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.drawImage(pictureRect_, frame_);
    }

private:
    QImage frame_;
    QRect pictureRect_;
    GlassBackdrop backdrop_;
};

// Glass over the black bars above and below a picture shows the bars, not
// a copy of the picture's far edge wrapped round from the other side.
TEST(GlassSurface, OverTheBarsBesideALetterboxedPictureIsDark) {
    QImage frame(400, 200, QImage::Format_RGB32);
    frame.fill(Qt::green);
    QPainter(&frame).fillRect(0, 0, 400, 100, Qt::red);  // red over green
    LetterboxRoot root(frame, QRect(0, 100, 400, 200));
    const struct {
        const char* where;
        QRect glass;
        QColor low;
        QColor high;
    } cases[] = {
        {"the bar below", QRect(40, 330, 320, 60), QColor(0, 0, 0), QColor(12, 12, 12)},
        {"the bar above", QRect(40, 10, 320, 60), QColor(0, 0, 0), QColor(12, 12, 12)},
        {"the picture's red half", QRect(40, 120, 320, 40), QColor(120, 0, 0), QColor(170, 12, 12)},
        {"the picture's green half", QRect(40, 240, 320, 40), QColor(0, 120, 0), QColor(12, 170, 12)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        auto* surface = new GlassSurface(GlassShape::roundedRect, &root, 8);
        surface->setGeometry(c.glass);
        const QColor middle = root.grab().toImage().pixelColor(c.glass.center());
        EXPECT_GE(middle.red(), c.low.red());
        EXPECT_LE(middle.red(), c.high.red());
        EXPECT_GE(middle.green(), c.low.green());
        EXPECT_LE(middle.green(), c.high.green());
        delete surface;
    }
}

// A glass painted as a whole at an opacity of its own (a dimmed control).
class FadedGlass : public GlassSurface {
public:
    using GlassSurface::GlassSurface;
    double opacity = 1;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setOpacity(opacity);
        paintSurface(painter);
    }
};

// The fill lies behind the material and the material blurs it with the
// rest: over an even picture the glass is the picture darkened by the
// black at 0.35, or mixed with the tint at 0.35, whatever the material; a
// dimmed glass is that glass, dimmed.
TEST(GlassSurface, TheFillBehindTheMaterialShowsThroughIt) {
    QImage grey(400, 400, QImage::Format_RGB32);
    grey.fill(QColor(200, 200, 200));
    LetterboxRoot root(grey, QRect(0, 0, 400, 400));
    const struct {
        const char* name;
        std::optional<QColor> tint;
        double opacity;
        QColor expected;
    } cases[] = {
        {"untinted", std::nullopt, 1, QColor(130, 130, 130)},
        {"red", QColor(Qt::red), 1, QColor(219, 130, 130)},
        {"red at 0.35", withOpacity(QColor(Qt::red), 0.35), 1, QColor(207, 176, 176)},
        {"untinted at 0.45", std::nullopt, 0.45, QColor(169, 169, 169)},
        {"red, at 0.45", QColor(Qt::red), 0.45, QColor(209, 169, 169)},
    };
    auto* surface = new FadedGlass(GlassShape::roundedRect, &root, 8);
    surface->setGeometry(100, 100, 200, 200);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        surface->setTint(c.tint);
        surface->opacity = c.opacity;
        const QColor middle = root.grab().toImage().pixelColor(200, 200);
        EXPECT_NEAR(middle.red(), c.expected.red(), 3);
        EXPECT_NEAR(middle.green(), c.expected.green(), 3);
    }
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
    backdrop.set(picture);
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
    backdrop.set(red);
    GlassBackdrop::attach(&first, &backdrop);
    EXPECT_GT(middle(first).red(), plain.red() + 100) << "attached after the first paint";

    GlassBackdrop other;
    other.set(blue);
    GlassBackdrop::attach(&second, &other);
    surface->setParent(&second);
    surface->show();
    QColor moved = middle(second);
    EXPECT_GT(moved.blue(), 100) << "the new root's picture";
    EXPECT_LT(moved.red(), 40);

    other.set(red);
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

// What a glass holds, drawn as a child across it or by the glass itself.
class FilledGlass : public GlassSurface {
public:
    using GlassSurface::GlassSurface;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paintSurface(painter);
        painter.fillRect(rect(), QColor(0, 0, 200));
    }
};

// The edge's line lies over the content, whether a child or the glass's
// own drawing, and over a child added after it.
TEST(GlassSurface, TheEdgeIsDrawnOverTheContent) {
    const auto contentFilling = [](GlassSurface& surface) {
        auto* content = new QWidget(&surface);
        content->setAutoFillBackground(true);
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(0, 0, 200));
        content->setPalette(palette);
        content->setGeometry(surface.rect());
        content->show();
    };
    const struct {
        const char* name;
        bool paintsItself;
        bool child;
    } cases[] = {
        {"a child across the glass", false, true},
        {"the glass's own drawing", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget root;
        root.resize(200, 100);
        GlassSurface* surface = c.paintsItself ? new FilledGlass(GlassShape::roundedRect, &root, 4)
                                               : new GlassSurface(GlassShape::roundedRect, &root, 4);
        surface->setGeometry(50, 20, 100, 60);
        if (c.child) contentFilling(*surface);
        const QImage image = root.grab().toImage();
        const QColor edge = image.pixelColor(100, 20);  // the surface's first row
        const QColor inside = image.pixelColor(100, 50);
        EXPECT_EQ(inside, QColor(0, 0, 200));
        EXPECT_NEAR(edge.red(), qRound(255 * 0.12), 3) << "white at 0.12 over the content";
        EXPECT_NEAR(edge.blue(), qRound(255 * 0.12 + 200 * 0.88), 3);
    }
}

TEST(IconButton, WholeCircleTakesTheClickButNotItsCorners) {
    IconButton button("crop", QStringLiteral("Auto frame (Ctrl+F)"), 32, nullptr);
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(16, 16));
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(4, 16));  // off the glyph, on the circle
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(1, 1));   // the square's corner
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(button.toolTip(), QStringLiteral("Auto frame (Ctrl+F)"));
    // Tab reaches it; a click leaves the keyboard where it was (on the picture).
    EXPECT_EQ(button.focusPolicy(), Qt::TabFocus);
}

}  // namespace
}  // namespace lumenhollow::ui
