#include "lumenhollow/ui/kit/glass_backdrop.h"

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

}  // namespace

QImage makeGlassBackdrop(const QImage& frame, int downscale, int radius) {
    if (frame.isNull()) return {};
    downscale = std::max(downscale, 1);
    const int w = std::max(frame.width() / downscale, 1);
    const int h = std::max(frame.height() / downscale, 1);
    QImage small = frame.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (radius <= 0) return small;
    QImage transposed(h, w, QImage::Format_ARGB32_Premultiplied);
    boxBlurTransposed(small, transposed, radius);
    boxBlurTransposed(transposed, small, radius);
    boxBlurTransposed(small, transposed, radius);
    boxBlurTransposed(transposed, small, radius);
    return small;
}

void GlassBackdrop::set(QImage image, QRectF pictureRect) {
    image_ = std::move(image);
    pictureRect_ = pictureRect;
}

void GlassBackdrop::clear() {
    image_ = {};
    pictureRect_ = {};
}

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
