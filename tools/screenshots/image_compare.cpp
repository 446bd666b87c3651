#include "tools/screenshots/image_compare.h"

#include <cstdlib>

namespace lumenhollow::shots {

ImageDifference compareImages(const QImage& actual, const QImage& expected, int channelTolerance) {
    ImageDifference difference;
    if (actual.size() != expected.size() || actual.isNull()) return difference;
    difference.sameSize = true;
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
    difference.pixels = static_cast<long long>(a.width()) * a.height();
    for (int y = 0; y < a.height(); ++y) {
        const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = rowA[x];
            const QRgb q = rowB[x];
            if (std::abs(qRed(p) - qRed(q)) > channelTolerance || std::abs(qGreen(p) - qGreen(q)) > channelTolerance ||
                std::abs(qBlue(p) - qBlue(q)) > channelTolerance || std::abs(qAlpha(p) - qAlpha(q)) > channelTolerance) {
                ++difference.differingPixels;
            }
        }
    }
    return difference;
}

bool matches(const ImageDifference& difference) {
    return difference.sameSize && difference.fraction() <= kDifferingFraction;
}

}  // namespace lumenhollow::shots
