#include "lumenhollow/app/app_windows.h"

#include <QGuiApplication>
#include <QWindow>

namespace lumenhollow {

std::vector<uint32_t> visibleAppWindows() {
    std::vector<uint32_t> windows;
    // Other platforms' window ids are not the X server's.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return windows;
    for (const QWindow* window : QGuiApplication::topLevelWindows()) {
        // winId() would make a native window for one that has none yet; a
        // window without one is not on the screen.
        if (!window->isVisible() || !window->handle()) continue;
        windows.push_back(static_cast<uint32_t>(window->winId()));
    }
    return windows;
}

}  // namespace lumenhollow
