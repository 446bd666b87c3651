#include "lumenhollow/ui/panels/corner_picker_layout.h"

#include <QCoreApplication>

#include "hollowkit/recording/bubble_geometry.h"

namespace lumenhollow {

namespace {

CornerTarget makeCornerTarget(hollowkit::BubbleCorner corner, hollowkit::BubbleSize size, hollowkit::BubbleShape shape,
                              const QSizeF& canvas) {
    // The background plays no part in where the bubble sits.
    const hollowkit::BubbleStyle style(corner, size, shape, hollowkit::BubbleBackground::keep);
    const hollowkit::BubbleRect r = hollowkit::bubbleRect(style, canvas.width(), canvas.height());
    const double midX = r.x + r.width / 2;
    const double midY = canvas.height() - (r.y + r.height / 2);
    CornerTarget target;
    target.corner = corner;
    target.rect = QRectF(midX - r.width / 2, midY - r.height / 2, r.width, r.height);
    return target;
}

}  // namespace

std::vector<CornerTarget> cornerTargets(hollowkit::BubbleCorner selection, hollowkit::BubbleSize size,
                                        hollowkit::BubbleShape shape, const QSizeF& canvas) {
    std::vector<CornerTarget> targets;
    if (shape == hollowkit::BubbleShape::circle) {
        for (hollowkit::BubbleCorner corner : hollowkit::kAllBubbleCorners) {
            CornerTarget target = makeCornerTarget(corner, size, shape, canvas);
            target.selected = corner == selection;
            // The corner's own title, shown as it stands.
            target.help = QString::fromUtf8(hollowkit::toString(corner).data(),
                                            static_cast<qsizetype>(hollowkit::toString(corner).size()));
            targets.push_back(target);
        }
        return targets;
    }
    // A top corner chosen for a circle lights the cut-out on its side.
    const bool leading = hollowkit::isLeading(selection);
    CornerTarget left = makeCornerTarget(hollowkit::BubbleCorner::bottomLeading, size, shape, canvas);
    left.selected = leading;
    left.help = QCoreApplication::translate("CornerPicker", "Left");
    CornerTarget right = makeCornerTarget(hollowkit::BubbleCorner::bottomTrailing, size, shape, canvas);
    right.selected = !leading;
    right.help = QCoreApplication::translate("CornerPicker", "Right");
    return {left, right};
}

bool targetHit(const CornerTarget& target, hollowkit::BubbleShape shape, const QPointF& pos) {
    if (shape != hollowkit::BubbleShape::circle) return target.rect.contains(pos);
    const QPointF d = pos - target.rect.center();
    const double radius = target.rect.width() / 2;
    return d.x() * d.x() + d.y() * d.y() <= radius * radius;
}

const CornerTarget* targetAt(const std::vector<CornerTarget>& targets, hollowkit::BubbleShape shape,
                             const QPointF& pos) {
    for (const CornerTarget& target : targets) {
        if (targetHit(target, shape, pos)) return &target;
    }
    return nullptr;
}

}  // namespace lumenhollow
