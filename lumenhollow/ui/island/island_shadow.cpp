#include "lumenhollow/ui/island/island_shadow.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "lumenhollow/ui/island/island_look.h"
#include "lumenhollow/ui/kit/glass_backdrop.h"

namespace lumenhollow::ui {

int islandShadowMargin(double radius) {
    // Three standard deviations: what lies beyond is under one percent.
    return static_cast<int>(std::ceil(3 * islandShadowSigma(radius)));
}

int islandShadowBoxRadius(double sigma, double dpr) {
    // A box of radius r has the variance r(r+1)/3; two add up.
    const double deviceSigma = sigma * dpr;
    const double r = (-1 + std::sqrt(1 + 6 * deviceSigma * deviceSigma)) / 2;
    return std::max(1, static_cast<int>(std::lround(r)));
}

QImage blurredSilhouette(const QPainterPath& outline, QSizeF size, int margin, double sigma, double dpr) {
    const QRectF bounds = QRectF(QPointF(0, 0), size).adjusted(-margin, -margin, margin, margin);
    const QSize device(static_cast<int>(std::ceil(bounds.width() * dpr)),
                       static_cast<int>(std::ceil(bounds.height() * dpr)));
    if (device.isEmpty()) return {};
    QImage silhouette(device, QImage::Format_ARGB32_Premultiplied);
    silhouette.fill(Qt::transparent);
    {
        QPainter painter(&silhouette);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(dpr, dpr);
        painter.translate(-bounds.topLeft());
        painter.fillPath(outline, Qt::black);
    }
    QImage blurred = makeGlassBackdrop(silhouette, 1, islandShadowBoxRadius(sigma, dpr));
    blurred.setDevicePixelRatio(dpr);
    return blurred;
}

bool IslandShadowPicture::prepare(const QPainterPath& outline, QSizeF size, double dpr) {
    if (!picture_.isNull() && dpr == dpr_ && size == size_ && outline == outline_) return false;
    outline_ = outline;
    dpr_ = dpr;
    size_ = size;
    picture_ = blurredSilhouette(outline, size, islandShadowMargin(IslandShadow::radius),
                                 islandShadowSigma(IslandShadow::radius), dpr);
    return true;
}

void IslandShadowPicture::paint(QPainter& painter, const QRectF& island, double opacity) const {
    if (picture_.isNull() || opacity <= 0 || size_.isEmpty()) return;
    // Stretched so the silhouette meets the outline of the moment.
    const double sx = island.width() / size_.width();
    const double sy = island.height() / size_.height();
    const double margin = islandShadowMargin(IslandShadow::radius);
    const QRectF target(island.left() - margin * sx, island.top() - margin * sy + IslandShadow::offsetY,
                        (size_.width() + 2 * margin) * sx, (size_.height() + 2 * margin) * sy);
    const double before = painter.opacity();
    painter.setOpacity(before * opacity);
    painter.drawImage(target, picture_);
    painter.setOpacity(before);
}

}  // namespace lumenhollow::ui
