#include "hollowkit/recording/bubble_geometry.h"

#include <cmath>

namespace hollowkit {

double bubbleSideFraction(BubbleShape shape, BubbleSize size) {
    // A cut-out person needs more room than a head in a circle.
    if (shape == BubbleShape::cutout) {
        switch (size) {
        case BubbleSize::small:
            return 0.34;
        case BubbleSize::medium:
            return 0.46;
        case BubbleSize::large:
            return 0.6;
        }
        return 0.46;
    }
    switch (size) {
    case BubbleSize::small:
        return 0.2;
    case BubbleSize::medium:
        return 0.28;
    case BubbleSize::large:
        return 0.38;
    }
    return 0.28;
}

double bubbleMarginFraction(BubbleShape shape) {
    return shape == BubbleShape::cutout ? 0.02 : 0.04;
}

BubbleRect bubbleRect(const BubbleStyle& style, double canvasWidth, double canvasHeight) {
    // std::round rounds halves away from zero, as the layout requires
    // (rint/nearbyint would round them to even).
    const double side = std::round(canvasHeight * bubbleSideFraction(style.shape, style.size));
    const double margin = std::round(canvasHeight * bubbleMarginFraction(style.shape));
    const double x = isLeading(style.corner) ? margin : canvasWidth - margin - side;
    double y = 0;
    if (style.shape == BubbleShape::circle) {
        const bool top = style.corner == BubbleCorner::topLeading ||
                         style.corner == BubbleCorner::topTrailing;
        y = top ? canvasHeight - margin - side : margin;
    }
    return BubbleRect{x, y, side, side};
}

}  // namespace hollowkit
