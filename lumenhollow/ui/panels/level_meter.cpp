#include "lumenhollow/ui/panels/level_meter.h"

#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/panels/level_meter_state.h"

namespace lumenhollow {

namespace {

constexpr double kMeterCornerRadius = 1;
constexpr double kMeterUnlitOpacity = 0.18;
constexpr double kMeterFadeSeconds = 0.08;

QColor meterToneColor(SegmentTone tone) {
    switch (tone) {
        case SegmentTone::green: return QColor::fromRgbF(0.3F, 0.85F, 0.4F);
        case SegmentTone::yellow: return ui::warningYellowColor();
        case SegmentTone::red: return QColor(255, 59, 48);
        case SegmentTone::unlit: break;
    }
    return ui::withOpacity(QColor(Qt::white), kMeterUnlitOpacity);
}

QColor meterBlend(const QColor& from, const QColor& to, double t) {
    const auto mix = [t](float a, float b) { return static_cast<float>(a + (b - a) * t); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
                            mix(from.blueF(), to.blueF()), mix(from.alphaF(), to.alphaF()));
}

}  // namespace

LevelMeter::LevelMeter(int segments, QWidget* parent) : QWidget(parent), segments_(std::max(0, segments)) {
    setAccessibleName(QStringLiteral("Audio level"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    paths_.reserve(static_cast<size_t>(segments_));
    for (int i = 0; i < segments_; ++i) {
        QPainterPath path;
        path.addRoundedRect(QRectF(i * (kSegmentWidth + kSegmentSpacing), 0, kSegmentWidth, kSegmentHeight),
                            kMeterCornerRadius, kMeterCornerRadius);
        paths_.push_back(std::move(path));
    }
}

void LevelMeter::setLevel(std::optional<float> level) {
    const int lit = litSegments(level, segments_);
    if (lit == lit_) return;
    if (animation_) animation_->stop();
    fromLit_ = lit_;
    lit_ = lit;
    progress_ = 0;
    animation_ = ui::animate(this, ui::Ease{ui::Ease::Kind::linear, kMeterFadeSeconds}, [this](double progress) {
        progress_ = progress;
        update();
    });
}

QSize LevelMeter::sizeHint() const {
    const int width = segments_ == 0 ? 0 : segments_ * kSegmentWidth + (segments_ - 1) * kSegmentSpacing;
    return {width, kSegmentHeight};
}

void LevelMeter::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.translate(0, (height() - kSegmentHeight) / 2.0);
    for (int i = 0; i < segments_; ++i) {
        const QColor to = meterToneColor(segmentTone(i, segments_, lit_));
        const QColor color =
            progress_ >= 1.0 ? to : meterBlend(meterToneColor(segmentTone(i, segments_, fromLit_)), to, progress_);
        painter.fillPath(paths_[static_cast<size_t>(i)], color);
    }
}

}  // namespace lumenhollow
