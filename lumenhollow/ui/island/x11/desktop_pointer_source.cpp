#include "lumenhollow/ui/island/x11/desktop_pointer_source.h"

#include <xcb/xcb.h>

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <vector>

#include "hollowkit/x11/xcb_connection.h"
#include "lumenhollow/ui/island/x11/qt_event_watch.h"
#include "lumenhollow/ui/island/x11/qt_x11_connection.h"

namespace lumenhollow::ui {

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
    // The root window's raw pointer events over a connection of its own, so
    // Qt's connection and its own XInput selections stay untouched.
    raw_ = QtEventWatch::open(hollowkit::x11::EventWatch::Kind::pointerActivity);
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
    main_.post([gone = std::shared_ptr<QtEventWatch>(std::move(raw_))]() mutable { gone.reset(); });
}

bool DesktopPointerSource::drainRawEvents() {
    if (!raw_) return false;
    const bool moved = raw_->watch->drain().events > 0;
    if (raw_->watch->broken()) {
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
    xcb_connection_t* connection = qtX11Connection();
    if (!connection) return PointerSample{QCursor::pos(), QGuiApplication::mouseButtons() != Qt::NoButton};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const auto reply =
        hollowkit::x11::ask(xcb_query_pointer_reply, connection, xcb_query_pointer(connection, screen->root));
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

}  // namespace lumenhollow::ui
