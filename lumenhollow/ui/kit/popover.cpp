#include "lumenhollow/ui/kit/popover.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "lumenhollow/ui/kit/glass.h"

namespace lumenhollow::ui {

namespace {

// Keeps the span [start, start + length) inside [low, high) where it fits;
// a span longer than the room starts at `low`.
int popoverClampSpan(int start, int length, int low, int high) {
    if (length >= high - low) return low;
    return std::clamp(start, low, high - length);
}

}  // namespace

QRect popoverFrame(const QRect& anchor, const QSize& size, PopoverEdge edge, const QRect& screen) {
    const int gap = Popover::kGap;
    const int w = size.width();
    const int h = size.height();
    const int screenRight = screen.x() + screen.width();
    const int screenBottom = screen.y() + screen.height();
    const int anchorRight = anchor.x() + anchor.width();
    const int anchorBottom = anchor.y() + anchor.height();
    if (edge == PopoverEdge::leading) {
        int x = anchor.x() - gap - w;
        // No room before the anchor: it opens after it.
        if (x < screen.x()) x = anchorRight + gap;
        const int y = anchor.y() + (anchor.height() - h) / 2;
        return {popoverClampSpan(x, w, screen.x(), screenRight), popoverClampSpan(y, h, screen.y(), screenBottom),
                w, h};
    }
    const int above = anchor.y() - gap - h;
    const int below = anchorBottom + gap;
    int y = edge == PopoverEdge::above ? above : below;
    if (edge == PopoverEdge::above && above < screen.y() && below + h <= screenBottom) y = below;
    if (edge != PopoverEdge::above && below + h > screenBottom && above >= screen.y()) y = above;
    const int x = anchor.x() + (anchor.width() - w) / 2;
    return {popoverClampSpan(x, w, screen.x(), screenRight), popoverClampSpan(y, h, screen.y(), screenBottom), w,
            h};
}

Popover::Popover(QWidget* anchor, PopoverEdge edge, ContentFactory makeContent)
    : QWidget(anchor, Qt::Popup | Qt::FramelessWindowHint),
      anchor_(anchor),
      edge_(edge),
      makeContent_(std::move(makeContent)) {
    setAttribute(Qt::WA_TranslucentBackground);
    // A click outside only closes; on the anchor it must not reopen at once.
    setAttribute(Qt::WA_NoMouseReplay);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The popover follows its content when rows come and go.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    anchor_->installEventFilter(this);
}

Popover::~Popover() { blockSignals(true); }

void Popover::present() {
    if (isVisible() || !anchor_->isVisible()) return;
    if (content_) delete content_.data();
    content_ = makeContent_ ? makeContent_(this) : nullptr;
    if (content_) layout()->addWidget(content_);
    layout()->activate();
    place();
    show();
    activateWindow();
    if (content_) content_->setFocus(Qt::PopupFocusReason);
}

void Popover::dismiss() {
    if (isVisible()) close();
}

void Popover::place() {
    QScreen* screen = anchor_->screen();
    const QRect room = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size());
    const QRect anchor(anchor_->mapToGlobal(QPoint(0, 0)), anchor_->size());
    move(popoverFrame(anchor, size(), edge_, room).topLeft());
}

bool Popover::eventFilter(QObject* watched, QEvent* event) {
    if (watched == anchor_ && (event->type() == QEvent::Hide || event->type() == QEvent::HideToParent)) dismiss();
    return QWidget::eventFilter(watched, event);
}

bool Popover::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        dismiss();
        return true;
    }
    const bool handled = QWidget::event(event);
    // Grown or shrunk with its content: stays against the anchor.
    if (event->type() == QEvent::Resize && isVisible()) place();
    return handled;
}

void Popover::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    Q_EMIT closing();
    Q_EMIT dismissed();
}

void Popover::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintGlass(painter, *this, GlassShape::roundedRect, rect(), std::nullopt, kCornerRadius);
}

}  // namespace lumenhollow::ui
