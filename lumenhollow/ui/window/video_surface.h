#pragma once

// VideoSurface: the live picture and the input over it. It paints the
// newest frame of its feed aspect-fit at the frame's own aspect on black,
// and turns keys, drags and the wheel into PreviewInput calls. It is the
// root of the main window's composition: the overlay and chrome layers are
// its children, so presses on their empty parts reach it.
//
// The controls over the picture pass on the keys they have no use of; an
// arrow among them gives the keyboard back to the picture, which turns the
// camera.
//
// A held arrow or a drag never outlives the surface's hold on the keyboard
// or its visibility: a release that goes to another window (focus lost,
// window hidden or deactivated) is made here. The press that only brings
// the window forward starts no drag (ActivatingPress), where a
// TakeFocusSource tells of it. GUI thread only.

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <array>

#include "hollowkit/media/video_frame.h"
#include "lumenhollow/model/preview_input.h"
#include "lumenhollow/ui/window/activating_press.h"

namespace lumenhollow {

class TakeFocusSource;
class VideoFeed;

class VideoSurface final : public QWidget {
    Q_OBJECT

public:
    // `input` must outlive the surface; the feed may go first.
    VideoSurface(VideoFeed& feed, PreviewInput& input, QWidget* parent = nullptr);
    ~VideoSurface() override;

    // The frame painted now (BGRA), null when there is none.
    const hollowkit::VideoFrame& currentFrame() const { return frame_; }
    // Takes the waiting frame now instead of on the posted wake-up.
    void showWaitingFrame();
    // Hears the window manager's WM_TAKE_FOCUS and the focus changes of
    // this surface's window from `source` (which may go first); without one
    // every press drags.
    void watchTakeFocus(TakeFocusSource& source);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void publishTargetSize();
    void removeImage();
    QImage wrapperFor(const hollowkit::VideoFrame& frame);
    // A drag whose release will not come ends as if released.
    void endDrag();
    void releaseEverything();
    bool isOurWindow(quintptr window) const;

    VideoFeed* feed_;
    PreviewInput& input_;
    hollowkit::VideoFrame frame_;
    QImage image_;  // a view of frame_'s pixels
    std::array<QImage, 4> wrappers_;  // views of the buffers seen lately
    size_t nextWrapper_ = 0;
    ActivatingPress activatingPress_;
};

}  // namespace lumenhollow
