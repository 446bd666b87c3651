#include "lumenhollow/ui/island/x11/window_panel_input.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <QWindow>

#include <algorithm>

#include "lumenhollow/ui/island/x11/qt_x11_connection.h"

namespace lumenhollow::ui {

WindowPanelInput::WindowPanelInput(QWidget& panel) : panel_(&panel) { apply(); }

void WindowPanelInput::setPassThrough(bool on) {
    if (on == on_) return;
    on_ = on;
    apply();
}

void WindowPanelInput::setIslandArea(const QRect& area) {
    if (area == area_) return;
    area_ = area;
    if (on_) apply();
}

void WindowPanelInput::apply() {
    if (!panel_) return;
    xcb_connection_t* connection = qtX11Connection();
    if (!connection) {
        // The window's own flag changes its input region in place; changing
        // the widget's flags instead would hide and re-create the window.
        if (panel_->windowHandle()) panel_->windowHandle()->setFlag(Qt::WindowTransparentForInput, on_);
        return;
    }
    // The region is set on the window itself, made now if it is not yet;
    // Qt touches it only when the window's flags change, which they never do.
    const auto window = static_cast<xcb_window_t>(panel_->winId());
    if (!on_) {
        // None: the whole window, as far as its shape reaches.
        xcb_xfixes_set_window_shape_region(connection, window, XCB_SHAPE_SK_INPUT, 0, 0, XCB_NONE);
        xcb_flush(connection);
        return;
    }
    // The server speaks device pixels.
    const qreal scale = panel_->devicePixelRatioF();
    const QRect rounded =
        QRectF(area_.x() * scale, area_.y() * scale, area_.width() * scale, area_.height() * scale).toAlignedRect();
    xcb_rectangle_t rectangle{static_cast<int16_t>(rounded.x()), static_cast<int16_t>(rounded.y()),
                              static_cast<uint16_t>(std::max(0, rounded.width())),
                              static_cast<uint16_t>(std::max(0, rounded.height()))};
    const xcb_xfixes_region_t region = xcb_generate_id(connection);
    xcb_xfixes_create_region(connection, region, area_.isEmpty() ? 0 : 1, &rectangle);
    xcb_xfixes_set_window_shape_region(connection, window, XCB_SHAPE_SK_INPUT, 0, 0, region);
    xcb_xfixes_destroy_region(connection, region);
    xcb_flush(connection);
}

}  // namespace lumenhollow::ui
