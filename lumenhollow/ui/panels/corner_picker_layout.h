#pragma once

// Where the corner picker's targets sit on its miniature screen: the
// composer's own bubble rule applied to the miniature's size, flipped to the
// widget's top-left origin. A circle has a target in each corner; a cut-out
// stands on the bottom edge, so it has a left and a right target, chosen by
// side. Plain values; any thread.

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <vector>

#include "hollowkit/media/bubble_style.h"

namespace lumenhollow {

struct CornerTarget {
    hollowkit::BubbleCorner corner = hollowkit::BubbleCorner::topLeading;
    QRectF rect;  // in the picker, origin top left
    bool selected = false;
    QString help;
    bool operator==(const CornerTarget&) const = default;
};

std::vector<CornerTarget> cornerTargets(hollowkit::BubbleCorner selection, hollowkit::BubbleSize size,
                                        hollowkit::BubbleShape shape, const QSizeF& canvas);

// Whether a click at `pos` lands on `target`: a circle takes clicks inside
// its disc, a cut-out inside its whole frame.
bool targetHit(const CornerTarget& target, hollowkit::BubbleShape shape, const QPointF& pos);

// The target a click at `pos` lands on, or nothing.
const CornerTarget* targetAt(const std::vector<CornerTarget>& targets, hollowkit::BubbleShape shape,
                             const QPointF& pos);

}  // namespace lumenhollow
