#include "lumenhollow/ui/kit/record_pill.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <cmath>

#include "lumenhollow/ui/kit/accessible_help.h"
#include "lumenhollow/ui/kit/glass.h"
#include "lumenhollow/ui/kit/keyboard_press.h"
#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

namespace {

constexpr int kHeight = 40;
constexpr double kLeadingInset = 9;
constexpr double kTrailingInset = 16;
constexpr double kItemSpacing = 10;
constexpr double kDot = 22;
constexpr double kSquare = 9;
constexpr double kSquareRadius = 3;
constexpr double kTextPx = 16;
constexpr double kChipPx = 9.5;
constexpr double kChipInsetX = 6;
constexpr double kChipInsetY = 3;
constexpr double kChipGap = 3;
constexpr double kTintOpacity = 0.35;

QFont textFont() { return uiFont(kTextPx, QFont::DemiBold); }
QFont chipFont() { return uiFont(kChipPx, QFont::Bold); }


}  // namespace

RecordPill::RecordPill(WallNow now, QWidget* parent)
    : QAbstractButton(parent),
      now_(std::move(now)),
      ticker_(new Ticker(this)),
      textFont_(textFont()),
      chipFont_(chipFont()) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedHeight(kHeight);
    makePressable(*this, PressRole::button, [this] { click(); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    refresh();
}

void RecordPill::setInputs(const RecordPillInputs& inputs) {
    inputs_ = inputs;
    refresh();
}

void RecordPill::refresh() {
    const bool wasTicking = state_.ticking;
    RecordPillState next = recordPill(inputs_, now_());
    const bool resized = next.text != state_.text || next.chip != state_.chip;
    state_ = std::move(next);
    setEnabled(state_.enabled);
    setHelp(*this, QString::fromStdString(state_.tooltip));
    if (resized) {
        measure();
        setFixedWidth(sizeHint().width());
    }
    if (state_.ticking && !wasTicking) {
        ticker_->start([this] { return untilNextSecond(); }, [this] { refresh(); });
    } else if (!state_.ticking && wasTicking) {
        ticker_->stop();
    }
    update();
}

std::chrono::milliseconds RecordPill::untilNextSecond() const {
    if (!inputs_.recordingStarted) return std::chrono::milliseconds(1000);
    using namespace std::chrono;
    const auto elapsed = duration_cast<milliseconds>(now_() - *inputs_.recordingStarted);
    const auto intoSecond = ((elapsed % 1000) + milliseconds(1000)) % 1000;
    return milliseconds(1000) - intoSecond;
}

void RecordPill::measure() {
    text_ = layoutTabular(QFontMetricsF(textFont_), QString::fromStdString(state_.text));
    chipTitle_ = QString::fromUtf8(recordChipLook(state_.chip).title);
    chipSize_ = {};
    if (state_.chip != RecordChip::none) {
        const QFontMetricsF metrics(chipFont_);
        chipTitleRun_ = layoutText(chipFont_, chipTitle_);
        chipBaselineShift_ = centredBaseline(metrics, 0);
        const double width = kChipPx + kChipGap + metrics.horizontalAdvance(chipTitle_);
        chipSize_ = {width + 2 * kChipInsetX, std::ceil(metrics.height()) + 2 * kChipInsetY};
    }
}

QSize RecordPill::sizeHint() const {
    double width = kLeadingInset + kDot + kItemSpacing + text_.width + kTrailingInset;
    if (state_.chip != RecordChip::none) width += kItemSpacing + chipSize_.width();
    return {static_cast<int>(std::ceil(width)), kHeight};
}

QRectF RecordPill::chipRect() const {
    if (state_.chip == RecordChip::none) return {};
    const double x = kLeadingInset + kDot + kItemSpacing + text_.width + kItemSpacing;
    return {x, (height() - chipSize_.height()) / 2, chipSize_.width(), chipSize_.height()};
}

bool RecordPill::hitButton(const QPoint& pos) const { return glassPath(GlassShape::capsule, rect()).contains(pos); }

bool RecordPill::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = chipRect().contains(help->pos())
                                ? QString::fromUtf8(recordChipLook(state_.chip).tooltip)
                                : QString::fromStdString(state_.tooltip);
        QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QAbstractButton::event(event);
}

void RecordPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(state_.opacity);
    const std::optional<QColor> tint =
        state_.recording ? std::optional<QColor>(withOpacity(appAccentColor(), kTintOpacity))
                         : std::nullopt;
    glass_.paint(painter, *this, GlassShape::capsule, rect(), tint);
    painter.setRenderHint(QPainter::Antialiasing);
    const double mid = height() / 2.0;

    // The dot, and the stop square over it while recording.
    const QRectF dot(kLeadingInset, mid - kDot / 2, kDot, kDot);
    painter.setPen(Qt::NoPen);
    painter.setBrush(appAccentColor());
    painter.drawEllipse(dot);
    if (state_.recording) {
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(QRectF(dot.center().x() - kSquare / 2, dot.center().y() - kSquare / 2, kSquare, kSquare),
                                kSquareRadius, kSquareRadius);
    }

    const QFontMetricsF metrics(textFont_);
    painter.setFont(textFont_);
    painter.setPen(withOpacity(QColor(Qt::white), state_.textOpacity));
    drawTabular(painter, QPointF(dot.right() + kItemSpacing, centredBaseline(metrics, mid)), text_);

    if (state_.chip != RecordChip::none) {
        const QRectF chip = chipRect();
        const RecordChipLook look = recordChipLook(state_.chip);
        painter.setPen(Qt::NoPen);
        painter.setBrush(withOpacity(QColor(Qt::white), 0.16));
        painter.drawRoundedRect(chip, chip.height() / 2, chip.height() / 2);
        Symbols::instance().draw(painter, QRectF(chip.left() + kChipInsetX, chip.center().y() - kChipPx / 2, kChipPx, kChipPx),
                                 look.symbol, kChipPx, Qt::white);
        painter.setPen(Qt::white);
        drawText(painter, QPointF(chip.left() + kChipInsetX + kChipPx + kChipGap, chip.center().y() + chipBaselineShift_),
                 chipTitleRun_);
    }
    glass_.paintEdge(painter, GlassShape::capsule, rect());
    paintFocusRing(painter, *this, GlassShape::capsule, rect());
}

}  // namespace lumenhollow::ui
