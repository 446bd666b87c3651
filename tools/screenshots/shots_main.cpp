// lumenhollow-shots: writes PNG pictures of named states of the main window
// and the island.
//   lumenhollow-shots --list
//   lumenhollow-shots [--out DIR] [NAME...]     (all states without names)

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/screenshots/shot_states.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_SCALE_FACTOR", "1");
    QApplication app(argc, argv);
    QString out = QStringLiteral(".");
    std::vector<std::string> names;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--list")) {
            for (const auto& state : lumenhollow::shots::shotStates()) std::printf("%s\n", state.name.c_str());
            return 0;
        }
        if (args[i] == QLatin1String("--out") && i + 1 < args.size()) {
            out = args[++i];
            continue;
        }
        names.push_back(args[i].toStdString());
    }
    if (names.empty()) {
        for (const auto& state : lumenhollow::shots::shotStates()) names.push_back(state.name);
    }
    QDir().mkpath(out);
    int failures = 0;
    for (const std::string& name : names) {
        const lumenhollow::shots::ShotState* state = lumenhollow::shots::findShotState(name);
        if (!state) {
            std::fprintf(stderr, "unknown state: %s (see --list)\n", name.c_str());
            ++failures;
            continue;
        }
        const QString path = QDir(out).filePath(QString::fromStdString(name) + QStringLiteral(".png"));
        if (!lumenhollow::shots::renderShot(*state).save(path)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return failures == 0 ? 0 : 1;
}
