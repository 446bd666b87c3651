#include "lumenhollow/ui/window/x11/xcb_take_focus_source.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "hollowkit/x11/xcb_connection.h"

namespace lumenhollow {
namespace {

using hollowkit::x11::internAtom;

// Whether a focus event tells of the focus moving between a window and
// another. A keyboard grab's start and end (Alt+Tab in a window manager)
// report focus that stays where it was; the pointer's and the root's
// details, and moves within one window, are not a window's activation.
bool focusMoved(uint8_t mode, uint8_t detail) {
    if (mode != XCB_NOTIFY_MODE_NORMAL && mode != XCB_NOTIFY_MODE_WHILE_GRABBED) return false;
    return detail != XCB_NOTIFY_DETAIL_POINTER && detail != XCB_NOTIFY_DETAIL_POINTER_ROOT &&
           detail != XCB_NOTIFY_DETAIL_NONE && detail != XCB_NOTIFY_DETAIL_INFERIOR;
}

}  // namespace

std::unique_ptr<XcbTakeFocusSource> XcbTakeFocusSource::create(QObject* parent) {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return nullptr;
    const xcb_atom_t protocols = internAtom(connection, "WM_PROTOCOLS");
    const xcb_atom_t takeFocus = internAtom(connection, "WM_TAKE_FOCUS");
    if (protocols == XCB_ATOM_NONE || takeFocus == XCB_ATOM_NONE) return nullptr;
    return std::unique_ptr<XcbTakeFocusSource>(new XcbTakeFocusSource(protocols, takeFocus, parent));
}

XcbTakeFocusSource::XcbTakeFocusSource(uint32_t protocolsAtom, uint32_t takeFocusAtom, QObject* parent)
    : TakeFocusSource(parent), protocolsAtom_(protocolsAtom), takeFocusAtom_(takeFocusAtom) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

XcbTakeFocusSource::~XcbTakeFocusSource() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XcbTakeFocusSource::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    // The high bit marks an event another client sent, as the window manager sends this one.
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_FOCUS_IN || type == XCB_FOCUS_OUT) {
        // Focus in and focus out share one layout.
        const auto* focus = static_cast<const xcb_focus_in_event_t*>(message);
        if (focusMoved(focus->mode, focus->detail)) {
            if (type == XCB_FOCUS_IN) {
                Q_EMIT focusIn(focus->event);
            } else {
                Q_EMIT focusOut(focus->event);
            }
        }
        return false;
    }
    if (type != XCB_CLIENT_MESSAGE) return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != protocolsAtom_ || client->data.data32[0] != takeFocusAtom_) {
        return false;
    }
    Q_EMIT takeFocus(client->window, client->data.data32[1]);
    // Qt reads the message too (it takes the time as its own).
    return false;
}

}  // namespace lumenhollow
