#include "lumenhollow/ui/window/window_drag_area.h"

#include <QMouseEvent>
#include <QWindow>

namespace lumenhollow {

bool QtWindowOps::startSystemMove() {
    if (!widget_) return false;
    QWindow* handle = widget_->window()->windowHandle();
    return handle && handle->startSystemMove();
}

QPoint QtWindowOps::windowPosition() const {
    return widget_ ? widget_->window()->pos() : QPoint();
}

void QtWindowOps::moveWindowTo(QPoint topLeft) {
    if (widget_) widget_->window()->move(topLeft);
}

void QtWindowOps::toggleMaximized() {
    if (!widget_) return;
    QWidget* window = widget_->window();
    if (window->isMaximized()) {
        window->showNormal();
    } else {
        window->showMaximized();
    }
}

WindowDragArea::WindowDragArea(WindowOps& ops, QWidget* parent) : QWidget(parent), ops_(ops) {
    setFocusPolicy(Qt::NoFocus);
}

void WindowDragArea::mousePressEvent(QMouseEvent* event) {
    // Taken whatever the button, so no press here starts a gimbal drag below.
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    manualMove_.reset();
    if (ops_.startSystemMove()) return;
    manualMove_ = ManualMove{event->globalPosition().toPoint(), ops_.windowPosition()};
}

void WindowDragArea::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt reports the second press of a double click here, and a third press
    // as an ordinary press again, which starts a move.
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    manualMove_.reset();
    ops_.toggleMaximized();
}

void WindowDragArea::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!manualMove_) return;
    ops_.moveWindowTo(manualMove_->windowStart + (event->globalPosition().toPoint() - manualMove_->pressGlobal));
}

void WindowDragArea::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) manualMove_.reset();
}

void WindowDragArea::hideEvent(QHideEvent* event) {
    manualMove_.reset();
    QWidget::hideEvent(event);
}

}  // namespace lumenhollow
