#include "lumenhollow/ui/panels/corner_picker.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow {

namespace {
constexpr double kFigureScale = 0.45;
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
    shape_ = shape;
    targets_ = std::move(targets);
    update();
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
    for (const CornerTarget& target : targets_) {
        if (shape_ == hollowkit::BubbleShape::circle) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(target.selected ? accent : ui::withOpacity(Qt::white, 0.12));
            painter.drawEllipse(target.rect);
            if (target.selected) {
                symbols.draw(painter, target.rect, "person.fill", target.rect.width() * kFigureScale, Qt::white);
            } else {
                painter.setPen(dashedBorder_);
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(target.rect.adjusted(0.5, 0.5, -0.5, -0.5));
            }
        } else {
            // The figure stands on the frame's bottom edge: the glyph's box
            // is as tall as the frame and its feet sit low in it.
            const QColor colour = target.selected ? accent : ui::withOpacity(Qt::white, 0.18);
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
