#pragma once

// GuideOverlay: the framing guides over the picture's rectangle: the thirds
// grid, the horizon line with its centre ring, and the 9:16 column with
// everything beside it darkened (landscape pictures only). It paints paths
// built when its size or its guides change, never per frame, and takes no
// mouse input. GUI thread only.

#include <QPainterPath>
#include <QPen>
#include <QWidget>
#include <array>
#include <optional>
#include <set>

#include "lumenhollow/model/model_types.h"

namespace lumenhollow {

// The paths of `guides` over a picture of `size`, origin at its top-left.
// A path stays empty when its guide is not chosen.
struct GuidePaths {
    QPainterPath grid;       // four lines at the thirds
    QPainterPath horizon;    // the line from 0.3 to 0.7 of the width and the 6-wide ring
    QPainterPath darkening;  // the whole picture minus the column, filled even-odd
    QPainterPath column;     // the column's outline
    // The darkening as the two bands beside the column: the same pixels,
    // filled as rectangles, which costs a fraction of the path.
    std::array<QRectF, 2> beside;
};
GuidePaths guidePaths(const std::set<GuideKind>& guides, QSizeF size);

// The 9:16 column centred in a picture of `size`: h × 9/16 wide, full
// height. None unless the picture is wider than high.
std::optional<QRectF> verticalFrame(QSizeF size);

class GuideOverlay final : public QWidget {
    Q_OBJECT

public:
    explicit GuideOverlay(QWidget* parent);

    void setGuides(std::set<GuideKind> guides);
    const std::set<GuideKind>& guides() const { return guides_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void rebuild();

    std::set<GuideKind> guides_;
    GuidePaths paths_;
    QPen gridPen_;
    QPen horizonPen_;
    QPen columnPen_;
    QBrush darkeningBrush_;
};

}  // namespace lumenhollow
