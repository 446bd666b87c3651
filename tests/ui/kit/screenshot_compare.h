#pragma once

// Screenshot comparison with a tolerance: a pixel differs when one channel
// is off by more than 8; an image matches when at most 0.5 % of its pixels
// differ. With LUMENHOLLOW_UPDATE_GOLDENS=1 the golden is written instead.

#include <QImage>
#include <QString>
#include <string>

namespace lumenhollow::ui::testing {

struct ImageDifference {
    bool sameSize = false;
    double differingFraction = 1.0;
    int largestChannelDelta = 255;
};

ImageDifference compareImages(const QImage& actual, const QImage& expected, int channelTolerance = 8);

// Empty when `actual` matches the golden `name` (in the golden folder);
// otherwise why not, with the actual image written beside the build.
std::string matchGolden(const QImage& actual, const QString& name);

}  // namespace lumenhollow::ui::testing
