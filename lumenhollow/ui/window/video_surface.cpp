#include "lumenhollow/ui/window/video_surface.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>

#include "lumenhollow/ui/kit/preview_events.h"
#include "lumenhollow/ui/kit/scale_change.h"
#include "lumenhollow/ui/window/take_focus_source.h"
#include "lumenhollow/ui/window/video_feed.h"
#include "lumenhollow/ui/window/window_layout.h"

namespace lumenhollow {

VideoSurface::VideoSurface(VideoFeed& feed, PreviewInput& input, QWidget* parent)
    : QWidget(parent), feed_(&feed), input_(input) {
    // Every pixel is painted each time, the bars black.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::OpenHandCursor);
    connect(&feed.relay(), &FeedRelay::frameReady, this, &VideoSurface::showWaitingFrame);
    connect(&feed.relay(), &FeedRelay::imageRemoved, this, &VideoSurface::removeImage);
    connect(&feed.relay(), &QObject::destroyed, this, [this] { feed_ = nullptr; });
    // A window opened again shows the frame that came while it was closed
    // at once, not only from the next one on.
    showWaitingFrame();
}

VideoSurface::~VideoSurface() = default;

void VideoSurface::showWaitingFrame() {
    if (!feed_) return;
    hollowkit::VideoFrame frame = feed_->mailbox().take();
    if (!frame) return;
    frame_ = std::move(frame);
    image_ = wrapperFor(frame_);
    update();
}

QImage VideoSurface::wrapperFor(const hollowkit::VideoFrame& frame) {
    // The mailbox hands out the same few recycled buffers over and over: a
    // wrapper made once per buffer is reused rather than made per frame.
    const auto stride = static_cast<qsizetype>(frame.stride(0));
    for (const QImage& wrapper : wrappers_) {
        if (wrapper.constBits() == frame.planeData(0) && wrapper.width() == frame.width() &&
            wrapper.height() == frame.height() && wrapper.bytesPerLine() == stride) {
            return wrapper;
        }
    }
    QImage& slot = wrappers_[nextWrapper_];
    nextWrapper_ = (nextWrapper_ + 1) % wrappers_.size();
    slot = QImage(frame.planeData(0), frame.width(), frame.height(), stride, QImage::Format_RGB32);
    return slot;
}

void VideoSurface::removeImage() {
    frame_ = {};
    image_ = {};
    wrappers_ = {};
    update();
}

void VideoSurface::publishTargetSize() {
    if (!feed_) return;
    const qreal ratio = devicePixelRatioF();
    feed_->mailbox().setTargetSize(qRound(width() * ratio), qRound(height() * ratio));
}

bool VideoSurface::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // On a screen of another scale the frames are prepared for its pixels.
    if (ui::isScaleChange(*event)) publishTargetSize();
    return handled;
}

void VideoSurface::watchTakeFocus(TakeFocusSource& source) {
    // The source hears every window of the application; only ours counts.
    connect(&source, &TakeFocusSource::takeFocus, this, [this](quintptr window, quint32 serverTime) {
        if (isOurWindow(window)) activatingPress_.takeFocus(serverTime);
    });
    connect(&source, &TakeFocusSource::focusIn, this, [this](quintptr window) {
        if (isOurWindow(window)) activatingPress_.windowActivated();
    });
    connect(&source, &TakeFocusSource::focusOut, this, [this](quintptr window) {
        if (isOurWindow(window)) activatingPress_.windowDeactivated();
    });
}

bool VideoSurface::isOurWindow(quintptr window) const {
    const QWindow* handle = this->window()->windowHandle();
    return handle && handle->winId() == window;
}

void VideoSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const RectF fit = image_.isNull() ? RectF{}
                                      : videoRect(SizeF{static_cast<double>(width()), static_cast<double>(height())},
                                                  static_cast<double>(image_.width()) / image_.height());
    if (fit.isEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QRectF target(fit.x, fit.y, fit.width, fit.height);
    const bool asPrepared = qAbs(target.width() * ratio - image_.width()) < 1.0 &&
                            qAbs(target.height() * ratio - image_.height()) < 1.0;
    if (asPrepared) {
        // Prepared at the fitted size: placed on whole device pixels at its
        // own size, it is a plain copy of rows into the backing store.
        target = QRectF(std::round(target.x() * ratio) / ratio, std::round(target.y() * ratio) / ratio,
                        image_.width() / ratio, image_.height() / ratio);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    }
    // Only the bars are filled: the picture covers the rest.
    const QRectF all(rect());
    painter.fillRect(QRectF(0, 0, all.width(), target.top()), Qt::black);
    painter.fillRect(QRectF(0, target.bottom(), all.width(), all.height() - target.bottom()), Qt::black);
    painter.fillRect(QRectF(0, target.top(), target.left(), target.height()), Qt::black);
    painter.fillRect(QRectF(target.right(), target.top(), all.width() - target.right(), target.height()), Qt::black);
    painter.drawImage(target, image_);
}

void VideoSurface::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    publishTargetSize();
}

void VideoSurface::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    publishTargetSize();
    // The surface takes the keyboard when it enters a window.
    setFocus(Qt::OtherFocusReason);
}

void VideoSurface::hideEvent(QHideEvent* event) {
    releaseEverything();
    QWidget::hideEvent(event);
}

void VideoSurface::focusOutEvent(QFocusEvent* event) {
    // Also when the window is deactivated or a popup takes the keyboard:
    // the key releases then go elsewhere.
    releaseEverything();
    QWidget::focusOutEvent(event);
}

void VideoSurface::releaseEverything() {
    input_.focusLost();
    endDrag();
}

void VideoSurface::endDrag() { endPreviewDrag(input_, *this); }

void VideoSurface::keyPressEvent(QKeyEvent* event) {
    const PreviewKeyEvent key = previewKeyEvent(*event);
    // An arrow a control over the picture passed on: the picture takes the
    // keyboard back, so the arrow's release comes here and a focus lost
    // later stops the motion.
    if (!hasFocus() && key.key != PreviewKey::none && key.key != PreviewKey::escape) setFocus(Qt::OtherFocusReason);
    if (input_.keyPressed(key)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void VideoSurface::keyReleaseEvent(QKeyEvent* event) {
    if (input_.keyReleased(previewKeyEvent(*event))) {
        event->accept();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void VideoSurface::mousePressEvent(QMouseEvent* event) {
    // A press's timestamp is the X server's time of it, as the take-focus's is.
    if (activatingPress_.pressed(static_cast<uint32_t>(event->timestamp())) && event->button() == Qt::LeftButton) {
        // It only brought the window forward.
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) setFocus(Qt::MouseFocusReason);
    if (routePreviewMouse(input_, *this, *event)) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void VideoSurface::mouseMoveEvent(QMouseEvent* event) {
    if (routePreviewMouse(input_, *this, *event)) {
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void VideoSurface::mouseReleaseEvent(QMouseEvent* event) {
    if (routePreviewMouse(input_, *this, *event)) {
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void VideoSurface::wheelEvent(QWheelEvent* event) {
    input_.wheel(previewWheelEvent(*event));
    event->accept();
}

}  // namespace lumenhollow
