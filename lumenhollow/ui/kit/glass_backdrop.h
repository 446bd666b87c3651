#pragma once

// The picture behind the glass: a small, blurred copy of everything the
// glass floats over (the frame where it is drawn, the black bars beside it,
// what is drawn on the picture, the darkening laid over all), made off the
// GUI thread, covering the whole surface the glass floats over.

#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <cstdint>
#include <span>

class QWidget;

namespace lumenhollow::ui {

// A copy of `frame` shrunk `downscale` times per side and box-blurred twice
// with `radius`; any thread. A null frame gives a null image.
QImage makeGlassBackdrop(const QImage& frame, int downscale = 8, int radius = 2);

// A black gradient laid over the picture from top to bottom of `rect`:
// `topOpacity` at its top edge, `bottomOpacity` at its bottom edge.
struct GlassShade {
    QRectF rect;
    double topOpacity = 0;
    double bottomOpacity = 0;

    bool operator==(const GlassShade&) const = default;
};

// How many times smaller than the surface the scene is made, per side.
inline constexpr int kGlassSceneDownscale = 8;

// What is drawn over the picture (guides, a face box), already shrunk by
// the scene's downscale: `image` covers `rect` of the area, transparent
// where nothing is drawn. A null image draws nothing.
struct GlassMarkings {
    QImage image;
    QRectF rect;
};

// What lies under the glass over a surface of `area`, shrunk and blurred as
// by makeGlassBackdrop: black wherever the frame is not drawn, `frame` at
// `pictureRect` (in the area's coordinates), `markings` over it, `shades`
// over all. The image spans the whole area, so glass anywhere on it finds
// what lies beneath it and never a copy of the frame's far edge. Any
// thread. A null frame or an empty area gives a null image.
QImage makeGlassScene(const QImage& frame, const QSizeF& area, const QRectF& pictureRect,
                      std::span<const GlassShade> shades, const GlassMarkings& markings = {},
                      int downscale = kGlassSceneDownscale, int radius = 2);

// Held by the widget the glass floats over (the video surface); glass widgets
// below it in the widget tree find it and draw its image clipped to their
// shape. GUI thread only.
class GlassBackdrop {
public:
    // `image` covers the whole widget this backdrop is attached to, at
    // whatever size that widget has when the glass is painted.
    void set(QImage image);
    void clear();

    const QImage& image() const { return image_; }
    bool hasPicture() const { return !image_.isNull(); }

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
};

}  // namespace lumenhollow::ui
