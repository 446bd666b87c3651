#include "lumenhollow/ui/island/x11/qt_screen_source.h"

#include <QGuiApplication>
#include <QScreen>

namespace lumenhollow::ui {

QtScreenSource::QtScreenSource(const NotchSource& notches, QObject* parent) : ScreenSource(parent), notches_(notches) {
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        Q_EMIT changed();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] { Q_EMIT changed(); });
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this] { Q_EMIT changed(); });
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
}

void QtScreenSource::watch(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this] { Q_EMIT changed(); });
    connect(screen, &QScreen::availableGeometryChanged, this, [this] { Q_EMIT changed(); });
}

std::vector<ScreenInfo> QtScreenSource::screens() const {
    std::vector<ScreenInfo> all;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        all.push_back(ScreenInfo{screen->name(), screen->geometry(), screen->availableGeometry(), screen == primary,
                                 notches_.notchOf(*screen)});
    }
    return all;
}

}  // namespace lumenhollow::ui
