#include "hollowkit/recording/x11/x11_pointer_service.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <utility>

#include "hollowkit/recording/x11/x11_window_owner.h"
#include "hollowkit/x11/xcb_connection.h"

namespace hollowkit {

X11PointerService::X11PointerService(std::string displayName, uint32_t ownerPid)
    : displayName_(std::move(displayName)), ownerPid_(ownerPid != 0 ? ownerPid : static_cast<uint32_t>(::getpid())) {}

X11PointerService::~X11PointerService() = default;

std::optional<PointerState> X11PointerService::query() {
    if (!connection_ || connection_->broken()) {
        owner_.reset();
        connection_.reset();
        auto opened = x11::openConnection(displayName_);
        if (!opened) return std::nullopt;
        connection_ = std::make_unique<x11::Connection>(std::move(opened.value()));
        owner_ = std::make_unique<x11::WindowOwner>(connection_->get(), ownerPid_);
    }
    xcb_connection_t* c = connection_->get();
    auto pointer = x11::ask(xcb_query_pointer_reply, c, xcb_query_pointer(c, connection_->root));
    if (!pointer) return std::nullopt;
    PointerState state;
    state.rootX = pointer->root_x;
    state.rootY = pointer->root_y;
    state.leftButtonDown = (pointer->mask & XCB_KEY_BUT_MASK_BUTTON_1) != 0;
    // The root's child under the pointer is the topmost top-level window
    // there, a frame or a window of its own; none over the bare desktop.
    state.overOwnWindow = pointer->child != XCB_WINDOW_NONE && owner_->owns(pointer->child);
    return state;
}

}  // namespace hollowkit
