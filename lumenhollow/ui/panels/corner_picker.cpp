#include "lumenhollow/ui/panels/corner_picker.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVariantAnimation>

#include <algorithm>

#include "lumenhollow/ui/kit/motion.h"
#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow {

namespace {

constexpr double kFigureScale = 0.45;
// The choice's move: a critically damped spring of 0.3 s.
constexpr ui::Spring kPickerSpring{0.3, 1.0};

QColor blendPickerColour(const QColor& from, const QColor& to, double t) {
    const auto mix = [t](float a, float b) { return static_cast<float>(a + (b - a) * t); };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()), mix(from.blueF(), to.blueF()),
                            mix(from.alphaF(), to.alphaF()));
}

bool samePlaces(const std::vector<CornerTarget>& a, const std::vector<CornerTarget>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CornerTarget& x, const CornerTarget& y) {
        return x.corner == y.corner && x.rect == y.rect;
    });
}

}  // namespace

CornerPicker::CornerPicker(QWidget* parent) : QWidget(parent) {
    setFixedSize(kCanvasWidth, kCanvasHeight);
    setAccessibleName(tr("Camera position"));
    screenBorder_ = QPen(ui::withOpacity(Qt::white, 0.14), 1);
    dashedBorder_ = QPen(ui::withOpacity(Qt::white, 0.2), 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    dashedBorder_.setDashPattern({3, 2});
    setStyle(hollowkit::BubbleCorner::bottomTrailing, hollowkit::BubbleSize::medium, hollowkit::BubbleShape::circle);
}

void CornerPicker::setStyle(hollowkit::BubbleCorner selection, hollowkit::BubbleSize size,
                            hollowkit::BubbleShape shape) {
    std::vector<CornerTarget> targets = cornerTargets(selection, size, shape, QSizeF(kCanvasWidth, kCanvasHeight));
    if (shape == shape_ && targets == targets_) return;
    // Only a new choice among the same targets moves; new places are drawn at once.
    const bool moves = shape == shape_ && samePlaces(targets, targets_);
    std::vector<double> from;
    if (moves) {
        for (size_t i = 0; i < targets_.size(); ++i) from.push_back(emphasis(i));
    }
    if (motion_) motion_->stop();
    shape_ = shape;
    targets_ = std::move(targets);
    from_ = std::move(from);
    progress_ = 1;
    if (moves) {
        progress_ = 0;
        motion_ = ui::animate(this, kPickerSpring, [this](double progress) {
            progress_ = progress;
            update();
        });
    }
    update();
}

double CornerPicker::emphasis(size_t target) const {
    if (target >= targets_.size()) return 0;
    const double to = targets_[target].selected ? 1 : 0;
    if (target >= from_.size()) return to;
    return std::clamp(from_[target] + (to - from_[target]) * progress_, 0.0, 1.0);
}

bool CornerPicker::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (const CornerTarget* target = targetAt(targets_, shape_, help->pos())) {
            QToolTip::showText(help->globalPos(), target->help, this, target->rect.toAlignedRect());
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

void CornerPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF screen = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(screenBorder_);
    painter.setBrush(ui::withOpacity(Qt::white, 0.06));
    painter.drawRoundedRect(screen, kScreenCornerRadius, kScreenCornerRadius);

    const ui::Symbols& symbols = ui::Symbols::instance();
    const QColor accent = ui::appAccentColor();
    for (size_t i = 0; i < targets_.size(); ++i) {
        const CornerTarget& target = targets_[i];
        // Fill, outline and figure fade between a faint target and the chosen one.
        const double chosen = emphasis(i);
        if (shape_ == hollowkit::BubbleShape::circle) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(blendPickerColour(ui::withOpacity(Qt::white, 0.12), accent, chosen));
            painter.drawEllipse(target.rect);
            if (chosen > 0) {
                painter.setOpacity(chosen);
                symbols.draw(painter, target.rect, "person.fill", target.rect.width() * kFigureScale, Qt::white);
            }
            if (chosen < 1) {
                painter.setOpacity(1 - chosen);
                painter.setPen(dashedBorder_);
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(target.rect.adjusted(0.5, 0.5, -0.5, -0.5));
            }
            painter.setOpacity(1);
        } else {
            // The figure stands on the frame's bottom edge: the glyph's box
            // is as tall as the frame and its feet sit low in it.
            const QColor colour = blendPickerColour(ui::withOpacity(Qt::white, 0.18), accent, chosen);
            const double px = target.rect.height() * 1.2;
            const QRectF box(target.rect.center().x() - px / 2, target.rect.bottom() - px * 0.92, px, px);
            symbols.draw(painter, box, "person.fill", px, colour);
        }
    }
}

void CornerPicker::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (const CornerTarget* target = targetAt(targets_, shape_, event->position())) Q_EMIT cornerChosen(target->corner);
}

}  // namespace lumenhollow
