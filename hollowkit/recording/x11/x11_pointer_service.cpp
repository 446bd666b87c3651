#include "hollowkit/recording/x11/x11_pointer_service.h"

#include <xcb/xcb.h>

#include "hollowkit/x11/xcb_connection.h"

namespace hollowkit {

X11PointerService::X11PointerService(std::string displayName) : displayName_(std::move(displayName)) {}

X11PointerService::~X11PointerService() = default;

std::optional<PointerState> X11PointerService::query(bool withWindows) {
    if (!connection_ || connection_->broken()) {
        connection_.reset();
        auto opened = x11::openConnection(displayName_);
        if (!opened) return std::nullopt;
        connection_ = std::make_unique<x11::Connection>(std::move(opened.value()));
    }
    xcb_connection_t* c = connection_->get();
    auto pointer = x11::ask(xcb_query_pointer_reply, c, xcb_query_pointer(c, connection_->root));
    if (!pointer) return std::nullopt;
    PointerState state;
    state.rootX = pointer->root_x;
    state.rootY = pointer->root_y;
    state.leftButtonDown = (pointer->mask & XCB_KEY_BUT_MASK_BUTTON_1) != 0;
    if (withWindows) {
        xcb_window_t window = pointer->child;
        for (int depth = 0; window != XCB_WINDOW_NONE && depth < kMaxWindowDepth; ++depth) {
            state.windows.push_back(window);
            auto inner = x11::ask(xcb_query_pointer_reply, c, xcb_query_pointer(c, window));
            if (!inner) break;  // the window went away meanwhile
            window = inner->child;
        }
    }
    return state;
}

}  // namespace hollowkit
