#pragma once

// FaceBoxOverlay: four corner brackets in the accent colour around the
// tracked face, over the picture's rectangle. A new position glides there
// in 0.15 s (at once with animations off); the brackets are rebuilt when the
// face or the size changes, not per paint. Takes no mouse input. GUI thread
// only.

#include <QPainterPath>
#include <QPen>
#include <QPointer>
#include <QWidget>
#include <array>
#include <optional>

#include "hollowkit/imaging/normalized_rect.h"

class QVariantAnimation;

namespace lumenhollow {

// The face in normalised picture coordinates scaled to a picture of `size`.
QRectF faceBox(const hollowkit::NormalizedRect& face, QSizeF size);

// The brackets for `rect`: four open two-segment lines (top-left,
// top-right, bottom-left, bottom-right; each from an arm's free end through
// the corner to the other arm's end) with arms of a quarter of the shorter
// side. A box without width or height has arms of 0.
using FaceCornerLines = std::array<std::array<QPointF, 3>, 4>;
FaceCornerLines faceCornerLines(const QRectF& rect);

// The brackets as one path. A path drops segments of no length, so the
// arms of a box without width or height leave only the corners as points:
// the overlay then draws those as round dots.
QPainterPath FaceCorners(const QRectF& rect);

class FaceBoxOverlay final : public QWidget {
    Q_OBJECT

public:
    static constexpr double kGlideSeconds = 0.15;
    static constexpr double kLineWidth = 2;

    explicit FaceBoxOverlay(QWidget* parent);

    // None hides the brackets; the next face then appears without a glide.
    void setFace(std::optional<hollowkit::NormalizedRect> face);
    const std::optional<hollowkit::NormalizedRect>& face() const { return target_; }
    // Where the brackets stand now (mid-glide, between the two faces).
    const std::optional<hollowkit::NormalizedRect>& shownFace() const { return shown_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showAt(const hollowkit::NormalizedRect& face);

    std::optional<hollowkit::NormalizedRect> target_;
    std::optional<hollowkit::NormalizedRect> shown_;
    // Cleared by Qt when the glide ends and deletes itself, also while this
    // overlay is being destroyed.
    QPointer<QVariantAnimation> glide_;
    QPainterPath corners_;
    std::array<QPointF, 4> dots_;  // the corners, when the arms are 0
    bool dotted_ = false;
    QPen pen_;
};

}  // namespace lumenhollow
