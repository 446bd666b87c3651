#include "lumenhollow/ui/window/live_backdrop.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "hollowkit/base/serial_queue.h"
#include "lumenhollow/ui/kit/queued_call.h"

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
    worker_->post([this, frame, pictureRect, generation = generation_] {
        // A view of the frame's pixels, which the copy of the frame keeps.
        const QImage view(frame.planeData(0), frame.width(), frame.height(), static_cast<qsizetype>(frame.stride(0)),
                          QImage::Format_RGB32);
        QImage picture = ui::makeGlassBackdrop(view);
        ui::postQueued(*this, [this, picture = std::move(picture), pictureRect, generation]() mutable {
            blurring_ = false;
            if (generation != generation_) return;
            backdrop_.set(std::move(picture), pictureRect);
            Q_EMIT pictureChanged();
        });
    });
}

void LiveBackdrop::clear() {
    ++generation_;
    backdrop_.clear();
    Q_EMIT pictureChanged();
}

}  // namespace lumenhollow
