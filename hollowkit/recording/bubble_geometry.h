#pragma once

// Where the camera bubble sits in a frame of the combined video (and in the
// panel's miniature of it). Sizes and margins follow the canvas height only;
// the width only places the trailing corners. Pure functions, any thread.

#include "hollowkit/media/bubble_style.h"

namespace hollowkit {

// A rectangle in pixels, origin at the bottom left, y growing upwards.
struct BubbleRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const BubbleRect&) const = default;
};

// Fraction of the canvas height taken by the bubble's side, and by its
// margin, for a shape and size.
double bubbleSideFraction(BubbleShape shape, BubbleSize size);
double bubbleMarginFraction(BubbleShape shape);

// The square the bubble is drawn in on a canvas of `canvasWidth` x
// `canvasHeight` pixels. Side and margin are rounded to whole pixels, halves
// away from zero. A circle keeps the margin on both sides of its corner; a
// cut-out always stands on the bottom edge, whatever the corner's row. The
// rectangle is not clamped: on a canvas narrower than the bubble a trailing
// bubble gets a negative x.
BubbleRect bubbleRect(const BubbleStyle& style, double canvasWidth, double canvasHeight);

}  // namespace hollowkit
