#pragma once

// IslandShadowPicture: the open island's soft shadow, a blurred black copy
// of its outline. The blur is made once per outline size and device pixel
// ratio and then only drawn: stretched with the outline while the island
// grows or shrinks, its opacity following the island's look. Owned by the
// island view; GUI thread only.

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSize>

class QPainter;

namespace lumenhollow::ui {

// The blur's standard deviation for a shadow of `radius` (the blur reaches
// about twice that far), and the margin round the outline that holds it.
constexpr double islandShadowSigma(double radius) { return radius / 2; }
int islandShadowMargin(double radius);

// Two box blurs of this radius (in device pixels) spread like a Gaussian
// of `sigma` logical pixels at `dpr`.
int islandShadowBoxRadius(double sigma, double dpr);

// The blurred silhouette of `outline` (opaque black), drawn in the frame
// 0, 0, `size`, in a picture of that frame grown by `margin`, at `dpr`.
QImage blurredSilhouette(const QPainterPath& outline, QSizeF size, int margin, double sigma, double dpr);

class IslandShadowPicture {
public:
    // Makes the picture for `outline` in the frame 0, 0, `size` at `dpr`
    // unless it is the one held; true when it made a new one.
    bool prepare(const QPainterPath& outline, QSizeF size, double dpr);
    // Draws it under the outline's frame `island`, shifted down by the
    // shadow's offset, stretched when `island` is not the prepared size.
    void paint(QPainter& painter, const QRectF& island, double opacity) const;

    const QImage& picture() const { return picture_; }

private:
    QImage picture_;
    QPainterPath outline_;
    QSizeF size_;
    double dpr_ = 0;
};

}  // namespace lumenhollow::ui
