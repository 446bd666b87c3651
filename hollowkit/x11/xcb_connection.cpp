#include "hollowkit/x11/xcb_connection.h"

#include <xcb/xcb.h>

namespace hollowkit::x11 {
namespace {

const char* connectionErrorText(int code) {
    switch (code) {
    case XCB_CONN_ERROR:
        return "the display connection failed";
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED:
        return "the display lacks an extension";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT:
        return "out of memory";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED:
        return "a request was too long";
    case XCB_CONN_CLOSED_PARSE_ERR:
        return "no usable display name (is DISPLAY set?)";
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return "the display has no such screen";
    default:
        return "the display could not be opened";
    }
}

}  // namespace

void ConnectionDeleter::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);
}

bool requestSucceeded(xcb_connection_t* connection, unsigned int sequence) {
    const Reply<xcb_generic_error_t> error(xcb_request_check(connection, xcb_void_cookie_t{sequence}));
    return error == nullptr;
}

std::string compositorSelectionName(int screenNumber) {
    return "_NET_WM_CM_S" + std::to_string(screenNumber);
}

uint32_t internAtom(xcb_connection_t* connection, std::string_view name) {
    const auto atom = ask(xcb_intern_atom_reply, connection,
                          xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.data()));
    return atom ? atom->atom : uint32_t{XCB_ATOM_NONE};
}

bool selectionOwned(xcb_connection_t* connection, uint32_t atom) {
    const auto owner = ask(xcb_get_selection_owner_reply, connection, xcb_get_selection_owner(connection, atom));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

bool Connection::broken() const {
    return !connection || xcb_connection_has_error(connection.get()) != 0;
}

Result<Connection, std::string> openConnection(const std::string& displayName) {
    int screenNumber = 0;
    ConnectionPtr connection(xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber));
    // xcb_connect never returns null; a failed one carries its error.
    if (const int error = xcb_connection_has_error(connection.get()); error != 0) {
        return unexpected(std::string("X11: ") + connectionErrorText(error));
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) return unexpected(std::string("X11: the display has no screen"));
    Connection result;
    result.root = screens.data->root;
    result.screenWidth = screens.data->width_in_pixels;
    result.screenHeight = screens.data->height_in_pixels;
    result.rootDepth = screens.data->root_depth;
    result.screenNumber = screenNumber;
    result.connection = std::move(connection);
    return result;
}

}  // namespace hollowkit::x11
