#include "lumenhollow/ui/island/x11/qt_x11_connection.h"

#include <QGuiApplication>

namespace lumenhollow::ui {

xcb_connection_t* qtX11Connection() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

}  // namespace lumenhollow::ui
