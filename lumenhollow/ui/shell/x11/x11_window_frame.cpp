#include "lumenhollow/ui/shell/x11/x11_window_frame.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <utility>

#include "hollowkit/x11/xcb_connection.h"

namespace lumenhollow {
namespace {

xcb_connection_t* frameQtConnection() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

constexpr const char* kFrameExtentsAtom = "_NET_FRAME_EXTENTS";

}  // namespace

std::optional<QMargins> x11FrameExtents(const QWidget& window) {
    xcb_connection_t* connection = frameQtConnection();
    const WId id = window.internalWinId();
    if (!connection || id == 0) return std::nullopt;
    const xcb_atom_t extents = hollowkit::x11::internAtom(connection, kFrameExtentsAtom);
    if (extents == XCB_ATOM_NONE) return std::nullopt;
    const auto reply = hollowkit::x11::ask(
        xcb_get_property_reply, connection,
        xcb_get_property(connection, 0, static_cast<xcb_window_t>(id), extents, XCB_ATOM_CARDINAL, 0, 4));
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) != 4 * 4) {
        return std::nullopt;
    }
    // Left, right, top, bottom.
    const auto* value = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return QMargins(static_cast<int>(value[0]), static_cast<int>(value[2]), static_cast<int>(value[1]),
                    static_cast<int>(value[3]));
}

bool x11PointerButtonHeld() {
    xcb_connection_t* connection = frameQtConnection();
    if (!connection) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return false;
    const auto reply =
        hollowkit::x11::ask(xcb_query_pointer_reply, connection, xcb_query_pointer(connection, screen->root));
    constexpr uint16_t kButtons = XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3 |
                                  XCB_BUTTON_MASK_4 | XCB_BUTTON_MASK_5;
    return reply && (reply->mask & kButtons) != 0;
}

std::unique_ptr<X11FrameExtentsWatch> X11FrameExtentsWatch::create(std::function<void(uint32_t window)> changed,
                                                                   QObject* parent) {
    xcb_connection_t* connection = frameQtConnection();
    if (!connection) return nullptr;
    const xcb_atom_t extents = hollowkit::x11::internAtom(connection, kFrameExtentsAtom);
    if (extents == XCB_ATOM_NONE) return nullptr;
    return std::unique_ptr<X11FrameExtentsWatch>(new X11FrameExtentsWatch(extents, std::move(changed), parent));
}

X11FrameExtentsWatch::X11FrameExtentsWatch(uint32_t extentsAtom, std::function<void(uint32_t window)> changed,
                                           QObject* parent)
    : QObject(parent), extentsAtom_(extentsAtom), changed_(std::move(changed)) {
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11FrameExtentsWatch::~X11FrameExtentsWatch() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11FrameExtentsWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
    const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
    if (property->atom == extentsAtom_ && changed_) changed_(property->window);
    return false;
}

}  // namespace lumenhollow
