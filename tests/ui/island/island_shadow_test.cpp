// The open island's soft shadow: a Gaussian fall-off round the outline moved
// down, at the opacity the island's look gives it, blurred once per size and
// scale and sharp at every scale.

#include "lumenhollow/ui/island/island_shadow.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>

#include "island_fakes.h"
#include "lumenhollow/ui/island/island_look.h"
#include "lumenhollow/ui/island/notch_view.h"

namespace lumenhollow::ui {
namespace {

using test::IslandHarness;

// The share of a Gaussian of `sigma` beyond `distance` from a straight edge.
double beyondEdge(double distance, double sigma) { return 0.5 * std::erfc(distance / (sigma * std::sqrt(2.0))); }

QImage renderView(IslandHarness& h, double dpr) {
    QImage image(NotchSizes::panel * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    h.controller->view().render(&image, {}, {}, QWidget::RenderFlags());
    return image;
}

TEST(IslandShadow, FallsOffLikeAGaussianBelowTheOpenIslandAtEveryScale) {
    const double sigma = islandShadowSigma(IslandShadow::radius);
    for (const double dpr : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(dpr);
        IslandHarness h;
        h.model->setNotchTrigger(NotchTrigger::click);
        h.controller->islandTapped();
        const QRectF island = h.controller->view().look().island;
        const QImage image = renderView(h, dpr);
        // Straight down from the middle of the bottom edge, which the
        // shadow's offset moves 8 lower: the distance from that moved edge.
        const double edge = island.bottom() + IslandShadow::offsetY;
        for (const double distance : {-4.0, 0.0, 4.5, 9.0, 18.0, 30.0}) {
            const int x = static_cast<int>(island.center().x() * dpr);
            const int y = static_cast<int>(std::lround((edge + distance) * dpr));
            const double wanted = 255 * IslandShadow::expandedOpacity * beyondEdge(distance, sigma);
            EXPECT_NEAR(qAlpha(image.pixel(x, y)), wanted, 7) << distance << " px from the edge";
        }
    }
}

TEST(IslandShadow, NoneWhileClosed) {
    IslandHarness h;
    const QRectF island = h.controller->view().look().island;
    const QImage image = renderView(h, 1);
    for (int below = 1; below < 30; ++below) {
        EXPECT_EQ(qAlpha(image.pixel(static_cast<int>(island.center().x()), static_cast<int>(island.bottom()) + below)),
                  0)
            << below;
    }
}

TEST(IslandShadowPicture, BlursOncePerSizeAndScale) {
    IslandShadowPicture shadow;
    const QSizeF open(520, 381);
    const QPainterPath outline = islandShape(false, true).path(QRectF(QPointF(0, 0), open));
    const int margin = islandShadowMargin(IslandShadow::radius);
    struct Step {
        const char* name;
        QSizeF size;
        double dpr;
        bool blurred;
    };
    const Step steps[] = {
        {"first", open, 1, true},
        {"the same again", open, 1, false},
        {"a screen of twice the scale", open, 2, true},
        {"the same there", open, 2, false},
        {"another size", QSizeF(520, 406), 2, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const QPainterPath path =
            step.size == open ? outline : islandShape(false, true).path(QRectF(QPointF(0, 0), step.size));
        EXPECT_EQ(shadow.prepare(path, step.size, step.dpr), step.blurred);
        EXPECT_EQ(shadow.picture().devicePixelRatio(), step.dpr);
        EXPECT_EQ(shadow.picture().size(),
                  QSize(static_cast<int>(std::ceil((step.size.width() + 2 * margin) * step.dpr)),
                        static_cast<int>(std::ceil((step.size.height() + 2 * margin) * step.dpr))));
    }
}

}  // namespace
}  // namespace lumenhollow::ui
