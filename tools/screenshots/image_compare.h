#pragma once

// Comparing a rendered window with its reference picture, with room for the
// small differences of font rasterisers and scaling between machines.

#include <QImage>

namespace lumenhollow::shots {

struct ImageDifference {
    bool sameSize = false;
    long long differingPixels = 0;  // any channel off by more than the tolerance
    long long pixels = 0;

    double fraction() const { return pixels == 0 ? 0.0 : static_cast<double>(differingPixels) / pixels; }
};

inline constexpr int kChannelTolerance = 8;
inline constexpr double kDifferingFraction = 0.005;

ImageDifference compareImages(const QImage& actual, const QImage& expected, int channelTolerance = kChannelTolerance);

// Same size, and at most kDifferingFraction of the pixels differ.
bool matches(const ImageDifference& difference);

}  // namespace lumenhollow::shots
