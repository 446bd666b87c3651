#include "lumenhollow/ui/window/live_backdrop.h"

#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <QtMath>

#include <algorithm>

#include "hollowkit/base/serial_queue.h"
#include "lumenhollow/ui/kit/queued_call.h"
#include "lumenhollow/ui/window/chrome_gradient.h"

namespace lumenhollow {

bool backdropDue(bool blurring, std::optional<hollowkit::TimePoint> lastStart, hollowkit::TimePoint now,
                 hollowkit::Duration interval) {
    if (blurring) return false;
    return !lastStart || now - *lastStart >= interval;
}

LiveBackdrop::LiveBackdrop(QWidget& root, const hollowkit::Clock& clock)
    : QObject(&root), root_(root), clock_(clock), worker_(std::make_unique<hollowkit::SerialQueue>("glass backdrop")) {
    ui::GlassBackdrop::attach(&root_, &backdrop_);
}

LiveBackdrop::~LiveBackdrop() {
    // The blur under way ends first; what it posts back goes with this object.
    worker_.reset();
    ui::GlassBackdrop::attach(&root_, nullptr);
}

void LiveBackdrop::offer(const hollowkit::VideoFrame& frame, const QRectF& pictureRect) {
    if (!frame || frame.pixelFormat() != hollowkit::PixelFormat::bgra) return;
    const hollowkit::TimePoint now = clock_.now();
    if (!backdropDue(blurring_, lastStart_, now, kMinimumInterval)) return;
    blurring_ = true;
    lastStart_ = now;
    ++blurs_;
    // The root as it is shown now: the bars beside the picture, what is
    // drawn on it and the chrome's darkening lie under the glass as much as
    // the frame does.
    const QSizeF area = root_.size();
    const std::array<ui::GlassShade, 2> shades = chromeShades(SizeF{area.width(), area.height()});
    ui::GlassMarkings markings = markings_ ? drawGlassMarkings(*markings_, root_) : ui::GlassMarkings{};
    worker_->post([this, frame, area, pictureRect, shades, markings = std::move(markings), generation = generation_] {
        // A view of the frame's pixels, which the copy of the frame keeps.
        const QImage view(frame.planeData(0), frame.width(), frame.height(), static_cast<qsizetype>(frame.stride(0)),
                          QImage::Format_RGB32);
        QImage picture = ui::makeGlassScene(view, area, pictureRect, shades, markings);
        ui::postQueued(*this, [this, picture = std::move(picture), generation]() mutable {
            blurring_ = false;
            if (generation != generation_) return;
            scene_ = std::move(picture);
            show();
        });
    });
}

void LiveBackdrop::setMarkings(QWidget* layer) { markings_ = layer; }

ui::GlassMarkings drawGlassMarkings(QWidget& layer, const QWidget& root) {
    if (!layer.isVisible() || layer.size().isEmpty()) return {};
    const QList<QWidget*> marks = layer.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    if (std::none_of(marks.begin(), marks.end(), [](const QWidget* mark) { return mark->isVisible(); })) return {};
    // Painted straight at the scene's size: a line a pixel wide leaves an
    // eighth of a pixel's worth, as it would shrunk, and the work is small.
    const QSizeF size = layer.size();
    const double factor = ui::kGlassSceneDownscale;
    ui::GlassMarkings drawn{QImage(qCeil(size.width() / factor), qCeil(size.height() / factor),
                                   QImage::Format_ARGB32_Premultiplied),
                            QRectF(layer.mapTo(&root, QPoint(0, 0)), size)};
    drawn.image.fill(Qt::transparent);
    QPainter painter(&drawn.image);
    painter.scale(drawn.image.width() / size.width(), drawn.image.height() / size.height());
    layer.render(&painter, QPoint(0, 0), QRegion(), QWidget::DrawChildren);
    return drawn;
}

void LiveBackdrop::clear() {
    ++generation_;
    scene_ = {};
    backdrop_.clear();
    Q_EMIT pictureChanged();
}

void LiveBackdrop::setDimming(double opacity) {
    if (opacity == dimming_) return;
    dimming_ = opacity;
    if (!scene_.isNull()) show();
}

void LiveBackdrop::show() {
    if (dimming_ <= 0) {
        backdrop_.set(scene_);
    } else {
        // The small scene darkened evenly: cheap enough here, and only when
        // a picture or the dimming changes.
        QImage dimmed = scene_.copy();
        QPainter(&dimmed).fillRect(dimmed.rect(), QColor::fromRgbF(0, 0, 0, static_cast<float>(dimming_)));
        backdrop_.set(std::move(dimmed));
    }
    Q_EMIT pictureChanged();
}

}  // namespace lumenhollow
