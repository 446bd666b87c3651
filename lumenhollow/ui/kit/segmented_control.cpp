#include "lumenhollow/ui/kit/segmented_control.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "lumenhollow/ui/kit/palette.h"
#include "lumenhollow/ui/kit/typography.h"

namespace lumenhollow::ui {

namespace {
constexpr double kSegmentInset = 2;
constexpr int kSegmentPadding = 10;
}  // namespace

std::vector<QRectF> segmentRects(const QSizeF& size, int count) {
    std::vector<QRectF> rects;
    if (count <= 0 || size.width() <= 0) return rects;
    const double each = std::floor(size.width() / count);
    for (int i = 0; i < count; ++i) {
        const double left = each * i;
        const double right = i == count - 1 ? size.width() : left + each;
        rects.emplace_back(left, 0, right - left, size.height());
    }
    return rects;
}

SegmentedControl::SegmentedControl(const QStringList& titles, QWidget* parent) : QWidget(parent), titles_(titles) {
    setFont(uiFont(TextStyle::callout));
    setFixedHeight(kHeight);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (const QString& title : titles_) {
        QStaticText text(title);
        text.setTextFormat(Qt::PlainText);
        text.prepare(QTransform(), font());
        texts_.push_back(text);
    }
}

void SegmentedControl::setCurrentIndex(int index) {
    if (index < 0 || index >= count()) index = -1;
    if (current_ == index) return;
    current_ = index;
    update();
}

int SegmentedControl::segmentAt(const QPointF& pos) const {
    if (!rect().contains(pos.toPoint())) return -1;
    const std::vector<QRectF> rects = segmentRects(size(), count());
    for (size_t i = 0; i < rects.size(); ++i) {
        if (pos.x() >= rects[i].left() && pos.x() < rects[i].right()) return static_cast<int>(i);
    }
    return -1;
}

QSize SegmentedControl::sizeHint() const {
    double widest = 0;
    for (const QStaticText& text : texts_) widest = std::max(widest, text.size().width());
    return {static_cast<int>(std::ceil(widest + 2 * kSegmentPadding)) * std::max(1, count()), kHeight};
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(withOpacity(Qt::white, 0.12), 1));
    painter.setBrush(withOpacity(Qt::white, 0.08));
    painter.drawRoundedRect(bounds, kCornerRadius, kCornerRadius);

    const std::vector<QRectF> rects = segmentRects(size(), count());
    const QColor textColor = withOpacity(Qt::white, isEnabled() ? 0.92 : 0.4);
    for (size_t i = 0; i < rects.size(); ++i) {
        const QRectF& segment = rects[i];
        if (static_cast<int>(i) == current_) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(withOpacity(Qt::white, isEnabled() ? 0.26 : 0.14));
            const QRectF chosen = segment.adjusted(kSegmentInset, kSegmentInset, -kSegmentInset, -kSegmentInset);
            painter.drawRoundedRect(chosen, kCornerRadius - kSegmentInset, kCornerRadius - kSegmentInset);
        } else if (i > 0 && static_cast<int>(i) != current_ + 1) {
            // A thin rule between two segments that are not chosen.
            painter.setPen(QPen(withOpacity(Qt::white, 0.14), 1));
            painter.drawLine(QPointF(segment.left(), 5), QPointF(segment.left(), height() - 5));
        }
        painter.setPen(textColor);
        const QSizeF textSize = texts_[i].size();
        painter.drawStaticText(QPointF(segment.center().x() - textSize.width() / 2,
                                       segment.center().y() - textSize.height() / 2),
                               texts_[i]);
    }
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const int index = segmentAt(event->position());
    if (index >= 0) Q_EMIT segmentChosen(index);
}

void SegmentedControl::keyPressEvent(QKeyEvent* event) {
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (step == 0 || count() == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int next = std::clamp(current_ + step, 0, count() - 1);
    if (next != current_) Q_EMIT segmentChosen(next);
}

void SegmentedControl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

}  // namespace lumenhollow::ui
