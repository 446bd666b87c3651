#include "screenshot_compare.h"

#include <QDir>

#include "tools/screenshots/image_compare.h"

namespace lumenhollow::ui::testing {

std::string matchGolden(const QImage& actual, const QString& name) {
    const QString path = QStringLiteral(KIT_GOLDEN_DIR) + "/" + name + ".png";
    if (qEnvironmentVariableIntValue("LUMENHOLLOW_UPDATE_GOLDENS") == 1) {
        QDir().mkpath(QStringLiteral(KIT_GOLDEN_DIR));
        actual.save(path);
        return {};
    }
    const QImage expected(path);
    if (expected.isNull()) return "no golden at " + path.toStdString();
    const shots::ImageDifference difference = shots::compareImages(actual, expected);
    if (shots::matches(difference)) return {};
    const QString written = QDir::currentPath() + "/" + name + ".actual.png";
    actual.save(written);
    if (!difference.sameSize) return "size differs; actual written to " + written.toStdString();
    return "differing pixels " + std::to_string(difference.fraction() * 100) + "%; actual written to " +
           written.toStdString();
}

}  // namespace lumenhollow::ui::testing
