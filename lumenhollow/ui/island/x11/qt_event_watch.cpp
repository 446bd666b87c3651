#include "lumenhollow/ui/island/x11/qt_event_watch.h"

#include "lumenhollow/ui/island/x11/qt_x11_connection.h"

namespace lumenhollow::ui {

std::unique_ptr<QtEventWatch> QtEventWatch::open(hollowkit::x11::EventWatch::Kind kind) {
    // Only where Qt itself speaks X11: elsewhere our windows are not that
    // server's to follow.
    if (!qtX11Connection()) return nullptr;
    auto opened = hollowkit::x11::EventWatch::open(kind);
    if (!opened) return nullptr;
    auto watched = std::make_unique<QtEventWatch>();
    watched->watch = std::move(opened.value());
    watched->notifier = std::make_unique<QSocketNotifier>(watched->watch->fd(), QSocketNotifier::Read);
    return watched;
}

}  // namespace lumenhollow::ui
