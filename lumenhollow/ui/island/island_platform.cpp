#include "lumenhollow/ui/island/island_platform.h"

// The interfaces' signals are generated with this file.

namespace lumenhollow::ui {

QPoint logicalPointerPosition(QPoint device, const std::vector<ScreenScale>& screens) {
    const ScreenScale* on = screens.empty() ? nullptr : &screens.front();
    for (const ScreenScale& screen : screens) {
        const QSizeF deviceSize = QSizeF(screen.frame.size()) * screen.devicePixelRatio;
        if (QRectF(screen.frame.topLeft(), deviceSize).contains(device)) {
            on = &screen;
            break;
        }
    }
    if (!on || on->devicePixelRatio <= 0) return device;
    const QPointF origin(on->frame.topLeft());
    return (origin + (QPointF(device) - origin) / on->devicePixelRatio).toPoint();
}

}  // namespace lumenhollow::ui
