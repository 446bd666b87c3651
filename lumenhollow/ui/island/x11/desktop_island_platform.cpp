#include "lumenhollow/ui/island/x11/desktop_island_platform.h"

#include <xcb/xcb.h>

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

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

DesktopPointerSource::DesktopPointerSource(hollowkit::MainExecutor& main, QObject* parent)
    : PointerSource(parent), main_(main) {
    last_ = query();
    qGuiApp->installEventFilter(this);
    pollTask_ = main_.every(kPollInterval, [this] { poll(); });
}

DesktopPointerSource::~DesktopPointerSource() {
    main_.cancel(pollTask_);
    if (qGuiApp) qGuiApp->removeEventFilter(this);
}

bool DesktopPointerSource::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            // Only window-level events: a widget's copy of the same move follows.
            if (watched->isWindowType()) poll();
            break;
        default: break;
    }
    return false;
}

void DesktopPointerSource::poll() {
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
    // The server speaks device pixels; the island works in Qt's logical ones.
    const qreal scale = qGuiApp->devicePixelRatio();
    const QPoint device(reply->root_x, reply->root_y);
    return PointerSample{scale > 0 ? (QPointF(device) / scale).toPoint() : device, (reply->mask & kButtons) != 0};
}

void WindowPanelInput::setPassThrough(bool on) {
    // The window's own flag changes its input region in place; changing the
    // widget's flags instead would hide and re-create the window.
    if (on == on_) return;
    on_ = on;
    if (panel_ && panel_->windowHandle()) panel_->windowHandle()->setFlag(Qt::WindowTransparentForInput, on);
}

IslandWindowMode detectIslandWindowMode() {
    xcb_connection_t* connection = x11Connection();
    if (!connection) return IslandWindowMode::translucent;
    int screenNumber = 0;
    if (const char* display = std::getenv("DISPLAY")) {
        const std::string name(display);
        const auto dot = name.rfind('.');
        if (dot != std::string::npos && dot > name.rfind(':')) screenNumber = std::atoi(name.c_str() + dot + 1);
    }
    const std::string atomName = "_NET_WM_CM_S" + std::to_string(screenNumber);
    const Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(atomName.size()), atomName.c_str()), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE) return IslandWindowMode::mask;
    const Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE ? IslandWindowMode::translucent : IslandWindowMode::mask;
}

}  // namespace lumenhollow::ui
