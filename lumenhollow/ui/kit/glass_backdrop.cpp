#include "lumenhollow/ui/kit/glass_backdrop.h"

#include <QLinearGradient>
#include <QPainter>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace lumenhollow::ui {

namespace {

constexpr const char* kBackdropProperty = "lumenhollow.glassBackdrop";

// GUI thread only, like the attachments it counts.
uint64_t attachmentCount = 0;

// One horizontal box-blur pass of `radius` over 32-bit pixels, written
// transposed so the same pass blurs the other axis next time.
void boxBlurTransposed(const QImage& source, QImage& target, int radius) {
    const int w = source.width();
    const int h = source.height();
    const int window = 2 * radius + 1;
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        int sum[4] = {0, 0, 0, 0};
        auto add = [&](QRgb p, int sign) {
            sum[0] += sign * qRed(p);
            sum[1] += sign * qGreen(p);
            sum[2] += sign * qBlue(p);
            sum[3] += sign * qAlpha(p);
        };
        for (int i = -radius; i <= radius; ++i) add(row[std::clamp(i, 0, w - 1)], 1);
        for (int x = 0; x < w; ++x) {
            auto* out = reinterpret_cast<QRgb*>(target.scanLine(x));
            out[y] = qRgba(sum[0] / window, sum[1] / window, sum[2] / window, sum[3] / window);
            add(row[std::min(x + radius + 1, w - 1)], 1);
            add(row[std::max(x - radius, 0)], -1);
        }
    }
}

// Two box blurs along each axis: close enough to a gaussian behind glass.
void blurTwice(QImage& image, int radius) {
    if (radius <= 0) return;
    QImage transposed(image.height(), image.width(), QImage::Format_ARGB32_Premultiplied);
    boxBlurTransposed(image, transposed, radius);
    boxBlurTransposed(transposed, image, radius);
    boxBlurTransposed(image, transposed, radius);
    boxBlurTransposed(transposed, image, radius);
}

QRectF shrunk(const QRectF& rect, double factor) {
    return QRectF(rect.x() / factor, rect.y() / factor, rect.width() / factor, rect.height() / factor);
}

}  // namespace

QImage makeGlassBackdrop(const QImage& frame, int downscale, int radius) {
    if (frame.isNull()) return {};
    downscale = std::max(downscale, 1);
    const int w = std::max(frame.width() / downscale, 1);
    const int h = std::max(frame.height() / downscale, 1);
    QImage small = frame.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    blurTwice(small, radius);
    return small;
}

QImage makeGlassScene(const QImage& frame, const QSizeF& area, const QRectF& pictureRect,
                      std::span<const GlassShade> shades, const GlassMarkings& markings, int downscale,
                      int radius) {
    if (frame.isNull() || area.isEmpty()) return {};
    const double factor = std::max(downscale, 1);
    QImage scene(std::max(qRound(area.width() / factor), 1), std::max(qRound(area.height() / factor), 1),
                 QImage::Format_ARGB32_Premultiplied);
    scene.fill(Qt::black);
    QPainter painter(&scene);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF picture = shrunk(pictureRect, factor);
    if (!picture.isEmpty()) {
        // Shrunk to its place first: the painter's own scaling would skip
        // most of a large frame's pixels and shimmer.
        const QImage small = frame.scaled(std::max(qRound(picture.width()), 1), std::max(qRound(picture.height()), 1),
                                          Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(picture, small);
    }
    if (!markings.image.isNull()) painter.drawImage(shrunk(markings.rect, factor), markings.image);
    for (const GlassShade& shade : shades) {
        const QRectF rect = shrunk(shade.rect, factor);
        QLinearGradient gradient(0, rect.top(), 0, rect.bottom());
        gradient.setColorAt(0, QColor(0, 0, 0, qRound(std::clamp(shade.topOpacity, 0.0, 1.0) * 255)));
        gradient.setColorAt(1, QColor(0, 0, 0, qRound(std::clamp(shade.bottomOpacity, 0.0, 1.0) * 255)));
        painter.fillRect(rect, gradient);
    }
    painter.end();
    blurTwice(scene, radius);
    return scene;
}

void GlassBackdrop::set(QImage image) { image_ = std::move(image); }

void GlassBackdrop::clear() { image_ = {}; }

void GlassBackdrop::attach(QWidget* root, GlassBackdrop* backdrop) {
    root->setProperty(kBackdropProperty, QVariant::fromValue(static_cast<void*>(backdrop)));
    ++attachmentCount;
}

uint64_t GlassBackdrop::attachments() { return attachmentCount; }

GlassBackdrop::Found GlassBackdrop::find(const QWidget* widget) {
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        const QVariant value = w->property(kBackdropProperty);
        if (value.isValid()) {
            auto* backdrop = static_cast<const GlassBackdrop*>(value.value<void*>());
            return backdrop ? Found{backdrop, w} : Found{nullptr, nullptr};
        }
    }
    return {nullptr, nullptr};
}

}  // namespace lumenhollow::ui
