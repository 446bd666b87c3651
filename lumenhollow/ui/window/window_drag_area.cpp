#include "lumenhollow/ui/window/window_drag_area.h"

#include <QApplication>
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
    // Nothing moves yet: a move begun on the press outlives a click whose
    // release the window manager never sees (a busy machine), and eats the
    // second click of a double click.
    press_ = Press{event->globalPosition().toPoint(), ops_.windowPosition()};
}

void WindowDragArea::mouseDoubleClickEvent(QMouseEvent* event) {
    // Qt reports the second press of a double click here, and a third press
    // as an ordinary press again.
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    press_.reset();
    ops_.toggleMaximized();
}

void WindowDragArea::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!press_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPoint offset = event->globalPosition().toPoint() - press_->pressGlobal;
    if (!press_->moving) {
        if (offset.manhattanLength() < QApplication::startDragDistance()) return;
        press_->moving = true;
        if (ops_.startSystemMove()) return;
        press_->manual = true;
    }
    if (press_->manual) ops_.moveWindowTo(press_->windowStart + offset);
}

void WindowDragArea::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) press_.reset();
}

void WindowDragArea::hideEvent(QHideEvent* event) {
    press_.reset();
    QWidget::hideEvent(event);
}

}  // namespace lumenhollow
