#include "lumenhollow/app/placeholder_window.h"

#include <QCloseEvent>
#include <QPainter>
#include <algorithm>

#include "hollowkit/imaging/bgra_frames.h"

namespace lumenhollow {
namespace {

// As large as fits, centred: bars at the sides of a narrower picture.
QRectF aspectFit(const QSizeF& surface, const QSizeF& picture) {
    if (surface.isEmpty() || picture.isEmpty()) return {};
    const QSizeF fitted = picture.scaled(surface, Qt::KeepAspectRatio);
    return {(surface.width() - fitted.width()) / 2, (surface.height() - fitted.height()) / 2, fitted.width(),
            fitted.height()};
}

}  // namespace

class PlaceholderWindow::Sink final : public VideoSink {
public:
    explicit Sink(PlaceholderWindow* window) : window_(window) {}
    void detach() { window_ = nullptr; }

    void enqueue(const hollowkit::VideoFrame& frame) override {
        if (window_) window_->showFrame(frame);
    }
    bool hasFailed() const override { return false; }
    void flush() override {}
    void flushRemovingImage() override {
        if (window_) window_->clearFrame();
    }

private:
    PlaceholderWindow* window_;
};

PlaceholderWindow::PlaceholderWindow() : sink_(std::make_shared<Sink>(this)) {
    setWindowTitle("Lumenhollow");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

std::shared_ptr<VideoSink> PlaceholderWindow::sink() const { return sink_; }

// The model may outlive the window by a moment; its frames then go nowhere.
PlaceholderWindow::~PlaceholderWindow() { sink_->detach(); }

// Cheap: the model hands over every frame on this thread; only the newest
// is converted, when the window paints.
void PlaceholderWindow::showFrame(const hollowkit::VideoFrame& frame) {
    frame_ = frame;
    ++framesShown_;
    update();
}

void PlaceholderWindow::clearFrame() {
    frame_ = hollowkit::VideoFrame();
    update();
}

void PlaceholderWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!frame_) return;
    const QRectF target = aspectFit(QSizeF(size()), QSizeF(frame_.width(), frame_.height()));
    const int width = std::max(2, static_cast<int>(target.width() * devicePixelRatioF()) & ~1);
    const int height = std::max(2, static_cast<int>(target.height() * devicePixelRatioF()) & ~1);
    hollowkit::WritableVideoFrame bgra =
        hollowkit::WritableVideoFrame::allocate(hollowkit::PixelFormat::bgra, width, height);
    if (!bgra || !hollowkit::drawAsBgra(frame_, bgra)) return;
    // BGRA in memory is Qt's 32-bit RGB on a little-endian machine.
    const QImage image(bgra.planeData(0), width, height, static_cast<qsizetype>(bgra.stride(0)), QImage::Format_RGB32);
    painter.drawImage(target, image);
}

void PlaceholderWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClosed_) onClosed_();
}

}  // namespace lumenhollow
