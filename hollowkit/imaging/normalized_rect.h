#pragma once

// Points and rectangles in normalised picture coordinates: 0...1 across the
// width and down the height, origin at the picture's top-left corner, y
// growing downwards. Face boxes travel in this form from the face detector to
// the follower, auto framing and the person segmenter. Plain values, any
// thread.

#include <cmath>

namespace hollowkit {

struct NormalizedPoint {
    double x = 0;
    double y = 0;

    bool operator==(const NormalizedPoint&) const = default;
};

struct NormalizedRect {
    double x = 0;  // left edge
    double y = 0;  // top edge
    double width = 0;
    double height = 0;

    bool operator==(const NormalizedRect&) const = default;

    double midX() const { return x + width / 2; }
    double midY() const { return y + height / 2; }
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    double area() const { return width * height; }
    NormalizedPoint center() const { return {midX(), midY()}; }

    // False when any field is NaN or infinite; such a box locates nothing.
    bool isFinite() const {
        return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) && std::isfinite(height);
    }
};

}  // namespace hollowkit
