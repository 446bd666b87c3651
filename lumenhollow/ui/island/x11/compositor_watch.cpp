#include "lumenhollow/ui/island/x11/compositor_watch.h"

#include "lumenhollow/ui/island/x11/qt_event_watch.h"
#include "lumenhollow/ui/island/x11/qt_x11_connection.h"

namespace lumenhollow::ui {

namespace {

// Asked after the selection was chosen, so no change falls between.
IslandWindowMode modeNow(const hollowkit::x11::EventWatch& watch) {
    return watch.compositorRuns() ? IslandWindowMode::translucent : IslandWindowMode::mask;
}

}  // namespace

// The server's word on the compositor selection, over a connection of its
// own so Qt's own XFixes selections (the clipboard's) stay untouched.
CompositorWatch::CompositorWatch(QObject* parent)
    : WindowModeSource(parent), x_(QtEventWatch::open(hollowkit::x11::EventWatch::Kind::compositorOwner)) {
    if (!x_) {
        // Without a watch of our own, no compositor is assumed on X11.
        mode_ = qtX11Connection() ? IslandWindowMode::mask : IslandWindowMode::translucent;
        return;
    }
    connect(x_->notifier.get(), &QSocketNotifier::activated, this, [this] { read(); });
    x_->watch->drain();
    mode_ = modeNow(*x_->watch);
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
    const IslandWindowMode now = modeNow(*x_->watch);
    // The reply may have brought events along, which the socket will not announce.
    x_->watch->drain();
    if (now == mode_) return;
    mode_ = now;
    Q_EMIT changed();
}

}  // namespace lumenhollow::ui
