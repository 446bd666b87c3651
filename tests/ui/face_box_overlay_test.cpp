#include "lumenhollow/ui/window/face_box_overlay.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"

namespace lumenhollow::test {
namespace {

using hollowkit::NormalizedRect;

// The twelve points of the brackets, corner by corner: the arm's free end,
// the corner, the other arm's free end.
std::vector<QPointF> points(const QPainterPath& path) {
    std::vector<QPointF> all;
    for (int i = 0; i < path.elementCount(); ++i) all.emplace_back(path.elementAt(i).x, path.elementAt(i).y);
    return all;
}

std::vector<QPointF> points(const FaceCornerLines& lines) {
    std::vector<QPointF> all;
    for (const auto& line : lines) all.insert(all.end(), line.begin(), line.end());
    return all;
}

TEST(FaceBoxOverlayTest, CornersHaveArmsOfAQuarterOfTheShorterSide) {
    struct Case {
        const char* name;
        QRectF rect;
        std::vector<QPointF> expected;
    };
    const std::vector<Case> cases{
        {"100 by 50: arms of 12.5 both ways",
         QRectF(10, 20, 100, 50),
         {{22.5, 20}, {10, 20}, {10, 32.5},
          {97.5, 20}, {110, 20}, {110, 32.5},
          {22.5, 70}, {10, 70}, {10, 57.5},
          {97.5, 70}, {110, 70}, {110, 57.5}}},
        {"tall: the width decides",
         QRectF(0, 0, 40, 200),
         {{10, 0}, {0, 0}, {0, 10},
          {30, 0}, {40, 0}, {40, 10},
          {10, 200}, {0, 200}, {0, 190},
          {30, 200}, {40, 200}, {40, 190}}},
        {"no width: every corner is a point",
         QRectF(5, 5, 0, 30),
         {{5, 5}, {5, 5}, {5, 5},
          {5, 5}, {5, 5}, {5, 5},
          {5, 35}, {5, 35}, {5, 35},
          {5, 35}, {5, 35}, {5, 35}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(points(faceCornerLines(c.rect)), c.expected);
        if (c.rect.isEmpty()) continue;  // the path keeps no segment without length
        const QPainterPath path = FaceCorners(c.rect);
        EXPECT_EQ(points(path), c.expected);
        // Four separate brackets: each starts anew.
        for (int corner = 0; corner < 4; ++corner) {
            EXPECT_TRUE(path.elementAt(corner * 3).isMoveTo());
            EXPECT_TRUE(path.elementAt(corner * 3 + 1).isLineTo());
            EXPECT_TRUE(path.elementAt(corner * 3 + 2).isLineTo());
        }
    }
}

TEST(FaceBoxOverlayTest, TheFaceIsScaledToThePicture) {
    struct Case {
        NormalizedRect face;
        QSizeF size;
        QRectF box;
    };
    const std::vector<Case> cases{
        {{0.25, 0.5, 0.5, 0.25}, {640, 360}, {160, 180, 320, 90}},
        {{0, 0, 1, 1}, {864, 648}, {0, 0, 864, 648}},
        {{0.5, 0.5, 0.1, 0.1}, {0, 0}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(faceBox(c.face, c.size), c.box);
}

// The brackets of a face over a black picture of 200 × 200.
QImage renderFace(const NormalizedRect& face) {
    QWidget parent;
    FaceBoxOverlay overlay(&parent);
    overlay.resize(200, 200);
    overlay.setFace(face);
    QImage image(200, 200, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    overlay.render(&painter);
    return image;
}

bool isAccent(QRgb pixel) {
    // The accent is strongly red; black stays black.
    return qRed(pixel) > 100 && qRed(pixel) > 2 * qGreen(pixel) && qRed(pixel) > 2 * qBlue(pixel);
}

TEST(FaceBoxOverlayTest, BracketsAreDrawnInTheAccentAndAZeroBoxAsADot) {
    const struct {
        const char* name;
        NormalizedRect face;
        QPoint probe;
        bool accent;
    } cases[] = {
        // Box 50..150 both ways: arms of 25.
        {"on the top-left arm", {0.25, 0.25, 0.5, 0.5}, {60, 50}, true},
        {"past the arm's end", {0.25, 0.25, 0.5, 0.5}, {100, 50}, false},
        {"inside the box", {0.25, 0.25, 0.5, 0.5}, {100, 100}, false},
        {"on the bottom-right arm", {0.25, 0.25, 0.5, 0.5}, {150, 140}, true},
        {"a box without size still shows where the face is", {0.5, 0.5, 0, 0}, {100, 100}, true},
        {"and nothing beside it", {0.5, 0.5, 0, 0}, {106, 100}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isAccent(renderFace(c.face).pixel(c.probe)), c.accent);
    }
}

TEST(FaceBoxOverlayTest, ANewFaceGlidesButTheFirstAppearsInPlace) {
    const bool wereOn = ui::animationsEnabled();
    const NormalizedRect first{0.1, 0.1, 0.2, 0.2};
    const NormalizedRect second{0.6, 0.5, 0.3, 0.3};
    for (const bool animations : {true, false}) {
        SCOPED_TRACE(animations ? "animations on" : "animations off");
        ui::setAnimationsEnabled(animations);
        QWidget parent;
        FaceBoxOverlay overlay(&parent);
        overlay.resize(200, 200);
        overlay.setFace(first);
        EXPECT_EQ(overlay.shownFace(), first) << "nothing to glide from";
        overlay.setFace(second);
        EXPECT_EQ(overlay.face(), second);
        // With animations the brackets start from where they stood.
        EXPECT_EQ(overlay.shownFace(), animations ? first : second);
        overlay.setFace(std::nullopt);
        EXPECT_EQ(overlay.shownFace(), std::nullopt) << "a lost face goes at once";
        overlay.setFace(second);
        EXPECT_EQ(overlay.shownFace(), second) << "and the next appears where it is";
    }
    ui::setAnimationsEnabled(wereOn);
}

}  // namespace
}  // namespace lumenhollow::test
