#include "lumenhollow/ui/island/x11/desktop_island_platform.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace lumenhollow::ui {
namespace {

xcb_connection_t* x11Connection() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

}  // namespace

QtScreenSource::QtScreenSource(const NotchSource& notches, QObject* parent) : ScreenSource(parent), notches_(notches) {
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        Q_EMIT changed();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] { Q_EMIT changed(); });
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, [this] { Q_EMIT changed(); });
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
}

void QtScreenSource::watch(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this] { Q_EMIT changed(); });
    connect(screen, &QScreen::availableGeometryChanged, this, [this] { Q_EMIT changed(); });
}

std::vector<ScreenInfo> QtScreenSource::screens() const {
    std::vector<ScreenInfo> all;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        all.push_back(ScreenInfo{screen->name(), screen->geometry(), screen->availableGeometry(), screen == primary,
                                 notches_.notchOf(*screen)});
    }
    return all;
}

// The root window's raw pointer events over a connection of its own, so
// Qt's connection and its own XInput selections stay untouched.
struct DesktopPointerSource::RawEvents {
    struct Disconnect {
        void operator()(xcb_connection_t* open) const { xcb_disconnect(open); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> connection;
    uint8_t inputOpcode = 0;
    std::unique_ptr<QSocketNotifier> notifier;

    // None when the server cannot send raw events to a root-window client
    // whatever grab is active (XInput 2.1 and later), or away from X11.
    static std::unique_ptr<RawEvents> open() {
        if (!x11Connection()) return nullptr;
        int screenNumber = 0;
        auto raw = std::make_unique<RawEvents>();
        raw->connection.reset(xcb_connect(nullptr, &screenNumber));
        xcb_connection_t* c = raw->connection.get();
        if (xcb_connection_has_error(c) != 0) return nullptr;
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_input_id);
        if (!extension || extension->present == 0) return nullptr;
        const Reply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 1)) {
            return nullptr;
        }
        raw->inputOpcode = extension->major_opcode;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
        if (screens.rem == 0) return nullptr;
        struct {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } selection{};
        selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
        selection.head.mask_len = 1;
        selection.mask = XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS |
                         XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE;
        if (xcb_generic_error_t* error = xcb_request_check(
                c, xcb_input_xi_select_events_checked(c, screens.data->root, 1, &selection.head))) {
            std::free(error);
            return nullptr;
        }
        raw->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
        return raw;
    }

    // Takes every waiting event; true when one says the pointer moved or a
    // button changed.
    bool drain() const {
        bool moved = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection.get())) {
            if ((event->response_type & 0x7F) == XCB_GE_GENERIC) {
                const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
                moved = moved || generic->extension == inputOpcode;
            }
            std::free(event);
        }
        return moved;
    }
};

DesktopPointerSource::DesktopPointerSource(hollowkit::MainExecutor& main, QObject* parent)
    : PointerSource(parent), main_(main) {}

DesktopPointerSource::~DesktopPointerSource() { setWatching(false); }

void DesktopPointerSource::setWatching(bool watching) {
    if (watching == watching_) return;
    watching_ = watching;
    if (!watching) {
        main_.cancel(pollTask_);
        main_.cancel(holding_);
        pollTask_ = 0;
        holding_ = 0;
        heldBack_ = false;
        stopRawEvents();
        if (qGuiApp) qGuiApp->removeEventFilter(this);
        return;
    }
    qGuiApp->installEventFilter(this);
    raw_ = RawEvents::open();
    if (raw_) {
        connect(raw_->notifier.get(), &QSocketNotifier::activated, this, [this] { readRawEvents(); });
        // What came with the selection's reply is already read from the
        // socket, which will not wake anyone for it.
        drainRawEvents();
    } else {
        pollTask_ = main_.every(kPollInterval, [this] { poll(); });
    }
    poll();
}

void DesktopPointerSource::stopRawEvents() {
    if (!raw_) return;
    raw_->notifier->setEnabled(false);
    // This may run inside the notifier's own signal: the connection and its
    // notifier go on the executor's next turn, or with the executor.
    main_.post([gone = std::shared_ptr<RawEvents>(std::move(raw_))]() mutable { gone.reset(); });
}

bool DesktopPointerSource::drainRawEvents() {
    if (!raw_) return false;
    const bool moved = raw_->drain();
    if (xcb_connection_has_error(raw_->connection.get()) != 0) {
        // The server went away from this connection: ask on a timer instead.
        stopRawEvents();
        if (watching_ && pollTask_ == 0) pollTask_ = main_.every(kPollInterval, [this] { poll(); });
    }
    return moved;
}

void DesktopPointerSource::readRawEvents() {
    if (drainRawEvents()) activity();
}

void DesktopPointerSource::activity() {
    if (holding_ != 0) {
        heldBack_ = true;
        return;
    }
    poll();
    holdBack();
}

void DesktopPointerSource::holdBack() {
    // A moving pointer sends hundreds of events a second; asking more often
    // than the screen refreshes would tell nothing new. For one interval
    // the socket is left unread and what arrives meanwhile waits; at its end
    // one query stands for all of it, so the pointer's last place is known.
    if (raw_) raw_->notifier->setEnabled(false);
    holding_ = main_.after(kPollInterval, [this] {
        holding_ = 0;
        bool again = heldBack_;
        heldBack_ = false;
        if (raw_) {
            raw_->notifier->setEnabled(true);
            again = drainRawEvents() || again;
        }
        if (again) activity();
    });
}

bool DesktopPointerSource::eventFilter(QObject* watched, QEvent* event) {
    // Only window-level events: a widget's copy of the same one follows.
    if (!watching_ || !watched->isWindowType()) return false;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease: poll(); break;
        case QEvent::MouseMove:
        case QEvent::Enter:
        case QEvent::Leave: activity(); break;
        default: break;
    }
    return false;
}

void DesktopPointerSource::poll() {
    ++queries_;
    const PointerSample now = query();
    if (now == last_) return;
    last_ = now;
    Q_EMIT moved();
}

PointerSample DesktopPointerSource::query() const {
    xcb_connection_t* connection = x11Connection();
    if (!connection) return PointerSample{QCursor::pos(), QGuiApplication::mouseButtons() != Qt::NoButton};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const Reply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, screen->root), nullptr));
    if (!reply) return last_;
    constexpr uint16_t kButtons = XCB_KEY_BUT_MASK_BUTTON_1 | XCB_KEY_BUT_MASK_BUTTON_2 | XCB_KEY_BUT_MASK_BUTTON_3 |
                                  XCB_KEY_BUT_MASK_BUTTON_4 | XCB_KEY_BUT_MASK_BUTTON_5;
    // The server speaks device pixels; the island works in Qt's logical
    // ones, which each screen scales by its own ratio.
    std::vector<ScreenScale> scales;
    for (const QScreen* each : QGuiApplication::screens()) {
        scales.push_back(ScreenScale{each->geometry(), each->devicePixelRatio()});
    }
    return PointerSample{logicalPointerPosition(QPoint(reply->root_x, reply->root_y), scales),
                         (reply->mask & kButtons) != 0};
}

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
    xcb_connection_t* connection = x11Connection();
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

// The server's word on the compositor selection, over a connection of its
// own so Qt's own XFixes selections (the clipboard's) stay untouched.
struct CompositorWatch::Connection {
    struct Disconnect {
        void operator()(xcb_connection_t* open) const { xcb_disconnect(open); }
    };
    std::unique_ptr<xcb_connection_t, Disconnect> connection;
    xcb_atom_t selection = XCB_ATOM_NONE;
    std::unique_ptr<QSocketNotifier> notifier;

    // None away from X11 or without XFixes.
    static std::unique_ptr<Connection> open() {
        if (!x11Connection()) return nullptr;
        int screenNumber = 0;
        auto x = std::make_unique<Connection>();
        x->connection.reset(xcb_connect(nullptr, &screenNumber));
        xcb_connection_t* c = x->connection.get();
        if (xcb_connection_has_error(c) != 0) return nullptr;
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_xfixes_id);
        if (!extension || extension->present == 0) return nullptr;
        // XFixes answers only a client that said which version it speaks.
        const Reply<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
        if (!version) return nullptr;
        const std::string name = "_NET_WM_CM_S" + std::to_string(screenNumber);
        const Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr));
        if (!atom) return nullptr;
        x->selection = atom->atom;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
        if (screens.rem == 0) return nullptr;
        if (xcb_generic_error_t* error = xcb_request_check(
                c, xcb_xfixes_select_selection_input_checked(
                       c, screens.data->root, x->selection,
                       XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                           XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                           XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE))) {
            std::free(error);
            return nullptr;
        }
        x->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
        return x;
    }

    // Takes every waiting event.
    void drain() const {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection.get())) std::free(event);
    }

    // Asked after the selection was chosen, so no change falls between.
    IslandWindowMode current() const {
        xcb_connection_t* c = connection.get();
        const Reply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
        return owner && owner->owner != XCB_WINDOW_NONE ? IslandWindowMode::translucent : IslandWindowMode::mask;
    }
};

CompositorWatch::CompositorWatch(QObject* parent) : WindowModeSource(parent), x_(Connection::open()) {
    if (!x_) {
        // Without a watch of our own, no compositor is assumed on X11.
        mode_ = x11Connection() ? IslandWindowMode::mask : IslandWindowMode::translucent;
        return;
    }
    connect(x_->notifier.get(), &QSocketNotifier::activated, this, [this] { read(); });
    x_->drain();
    mode_ = x_->current();
}

CompositorWatch::~CompositorWatch() = default;

void CompositorWatch::read() {
    // Whatever the event said, the owner now is what counts.
    x_->drain();
    if (xcb_connection_has_error(x_->connection.get()) != 0) {
        x_->notifier->setEnabled(false);
        return;
    }
    const IslandWindowMode now = x_->current();
    // The reply may have brought events along, which the socket will not announce.
    x_->drain();
    if (now == mode_) return;
    mode_ = now;
    Q_EMIT changed();
}

}  // namespace lumenhollow::ui
