#include "lumenhollow/ui/shell/sizer_attachment.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include "lumenhollow/ui/shell/window_sizer.h"

namespace lumenhollow {

bool canBecomeMainWindow(Qt::WindowFlags flags) {
    if (flags.testFlag(Qt::BypassWindowManagerHint) || flags.testFlag(Qt::X11BypassWindowManagerHint)) return false;
    const Qt::WindowType type = static_cast<Qt::WindowType>(int(flags & Qt::WindowType_Mask));
    return type == Qt::Window;
}

QWidget* mainCapableWidget(QWindow* window) {
    if (!window) return nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->windowHandle() == window) {
            return canBecomeMainWindow(widget->windowFlags()) ? widget : nullptr;
        }
    }
    return nullptr;
}

void attachSizerOnActivation(WindowSizer& sizer) {
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &sizer, [&sizer](QWindow* window) {
        if (QWidget* widget = mainCapableWidget(window)) sizer.attach(widget);
    });
}

void attachSizerToFirstWindowLater(WindowSizer& sizer, hollowkit::MainExecutor& main) {
    main.post([guard = QPointer<WindowSizer>(&sizer)] {
        if (!guard) return;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && canBecomeMainWindow(widget->windowFlags())) {
                guard->attach(widget);
                return;
            }
        }
    });
}

}  // namespace lumenhollow
