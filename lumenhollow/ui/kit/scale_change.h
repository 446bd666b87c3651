#pragma once

// Whether `event` tells a widget it now shows on a screen of another scale:
// Qt 6.4 sends only its internal screen change, Qt 6.6 also a ratio change.

#include <QEvent>

namespace lumenhollow::ui {

inline bool isScaleChange(const QEvent& event) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    if (event.type() == QEvent::DevicePixelRatioChange) return true;
#endif
    return event.type() == QEvent::ScreenChangeInternal;
}

}  // namespace lumenhollow::ui
