#include "screenshot_compare.h"

#include <QDir>
#include <algorithm>
#include <cstdlib>
#include <cmath>

namespace lumenhollow::ui::testing {

namespace {
constexpr double kMaxDifferingFraction = 0.005;
}

ImageDifference compareImages(const QImage& actual, const QImage& expected, int channelTolerance) {
    ImageDifference result;
    if (actual.size() != expected.size() || actual.isNull()) return result;
    result.sameSize = true;
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32);
    long differing = 0;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int delta = std::max({std::abs(qRed(ra[x]) - qRed(rb[x])), std::abs(qGreen(ra[x]) - qGreen(rb[x])),
                                        std::abs(qBlue(ra[x]) - qBlue(rb[x])), std::abs(qAlpha(ra[x]) - qAlpha(rb[x]))});
            largest = std::max(largest, delta);
            if (delta > channelTolerance) ++differing;
        }
    }
    result.differingFraction = static_cast<double>(differing) / (static_cast<double>(a.width()) * a.height());
    result.largestChannelDelta = largest;
    return result;
}

std::string matchGolden(const QImage& actual, const QString& name) {
    const QString path = QStringLiteral(KIT_GOLDEN_DIR) + "/" + name + ".png";
    if (qEnvironmentVariableIntValue("LUMENHOLLOW_UPDATE_GOLDENS") == 1) {
        QDir().mkpath(QStringLiteral(KIT_GOLDEN_DIR));
        actual.save(path);
        return {};
    }
    const QImage expected(path);
    if (expected.isNull()) return "no golden at " + path.toStdString();
    const ImageDifference difference = compareImages(actual, expected);
    if (difference.sameSize && difference.differingFraction <= kMaxDifferingFraction) return {};
    const QString written = QDir::currentPath() + "/" + name + ".actual.png";
    actual.save(written);
    if (!difference.sameSize) return "size differs; actual written to " + written.toStdString();
    return "differing pixels " + std::to_string(difference.differingFraction * 100) + "% (largest delta " +
           std::to_string(difference.largestChannelDelta) + "); actual written to " + written.toStdString();
}

}  // namespace lumenhollow::ui::testing
