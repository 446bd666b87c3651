#include "lumenhollow/ui/island/x11/compositor_watch.h"

#include <QSocketNotifier>

#include "hollowkit/recording/x11/x11_event_watch.h"
#include "lumenhollow/ui/island/x11/qt_x11_connection.h"

namespace lumenhollow::ui {

// The server's word on the compositor selection, over a connection of its
// own so Qt's own XFixes selections (the clipboard's) stay untouched.
struct CompositorWatch::Connection {
    std::unique_ptr<hollowkit::x11::EventWatch> watch;
    std::unique_ptr<QSocketNotifier> notifier;

    // None away from X11 or without XFixes.
    static std::unique_ptr<Connection> open() {
        if (!qtX11Connection()) return nullptr;
        auto watch = hollowkit::x11::EventWatch::open(hollowkit::x11::EventWatch::Kind::compositorOwner);
        if (!watch) return nullptr;
        auto x = std::make_unique<Connection>();
        x->watch = std::move(watch.value());
        x->notifier = std::make_unique<QSocketNotifier>(x->watch->fd(), QSocketNotifier::Read);
        return x;
    }

    // Asked after the selection was chosen, so no change falls between.
    IslandWindowMode current() const {
        return watch->compositorRuns() ? IslandWindowMode::translucent : IslandWindowMode::mask;
    }
};

CompositorWatch::CompositorWatch(QObject* parent) : WindowModeSource(parent), x_(Connection::open()) {
    if (!x_) {
        // Without a watch of our own, no compositor is assumed on X11.
        mode_ = qtX11Connection() ? IslandWindowMode::mask : IslandWindowMode::translucent;
        return;
    }
    connect(x_->notifier.get(), &QSocketNotifier::activated, this, [this] { read(); });
    x_->watch->drain();
    mode_ = x_->current();
}

CompositorWatch::~CompositorWatch() = default;

void CompositorWatch::read() {
    // Whatever the event said, the owner now is what counts.
    x_->watch->drain();
    if (x_->watch->broken()) {
        // The watch said so in the log; the mode last found stays.
        x_->notifier->setEnabled(false);
        return;
    }
    const IslandWindowMode now = x_->current();
    // The reply may have brought events along, which the socket will not announce.
    x_->watch->drain();
    if (now == mode_) return;
    mode_ = now;
    Q_EMIT changed();
}

}  // namespace lumenhollow::ui
