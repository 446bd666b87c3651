#include "lumenhollow/ui/kit/full_screen.h"

#include <QVariant>
#include <QWidget>

namespace lumenhollow::ui {

namespace {

// Kept on the window itself, so every way of toggling shares it.
constexpr const char* kStateBeforeFullScreen = "lumenhollowStateBeforeFullScreen";

}  // namespace

Qt::WindowStates fullScreenToggled(Qt::WindowStates current, Qt::WindowStates beforeFullScreen) {
    if (current & Qt::WindowFullScreen) return beforeFullScreen & ~(Qt::WindowFullScreen | Qt::WindowMinimized);
    return (current & ~(Qt::WindowMinimized | Qt::WindowMaximized)) | Qt::WindowFullScreen;
}

void toggleFullScreen(QWidget& widget) {
    QWidget* window = widget.window();
    const Qt::WindowStates current = window->windowState();
    const Qt::WindowStates before =
        Qt::WindowStates::fromInt(window->property(kStateBeforeFullScreen).toInt());
    if (!(current & Qt::WindowFullScreen)) window->setProperty(kStateBeforeFullScreen, current.toInt());
    window->setWindowState(fullScreenToggled(current, before));
    window->show();
    window->activateWindow();
}

}  // namespace lumenhollow::ui
