#pragma once

// The picture behind the glass: a small, blurred copy of the current frame,
// made off the GUI thread once per frame, and where that frame lies on the
// surface the glass floats over.

#include <QImage>
#include <QRectF>
#include <cstdint>

class QWidget;

namespace lumenhollow::ui {

// A copy of `frame` shrunk `downscale` times per side and box-blurred twice
// with `radius`; any thread. A null frame gives a null image.
QImage makeGlassBackdrop(const QImage& frame, int downscale = 8, int radius = 2);

// Held by the widget the glass floats over (the video surface); glass widgets
// below it in the widget tree find it and draw its image clipped to their
// shape. GUI thread only.
class GlassBackdrop {
public:
    // `image` from makeGlassBackdrop; `pictureRect` where the whole frame is
    // drawn, in the coordinates of the widget this backdrop is attached to.
    void set(QImage image, QRectF pictureRect);
    void clear();

    const QImage& image() const { return image_; }
    QRectF pictureRect() const { return pictureRect_; }
    bool hasPicture() const { return !image_.isNull() && !pictureRect_.isEmpty(); }

    // Makes `backdrop` the one of `root` and everything inside it; nullptr
    // detaches. The backdrop must outlive the attachment.
    static void attach(QWidget* root, GlassBackdrop* backdrop);
    // The nearest attached backdrop above `widget`, with the widget it is
    // attached to; {nullptr, nullptr} when none.
    struct Found {
        const GlassBackdrop* backdrop;
        const QWidget* root;
    };
    static Found find(const QWidget* widget);
    // How many attachments were made so far: a widget that found its
    // backdrop looks again only when this changes.
    static uint64_t attachments();

private:
    QImage image_;
    QRectF pictureRect_;
};

}  // namespace lumenhollow::ui
