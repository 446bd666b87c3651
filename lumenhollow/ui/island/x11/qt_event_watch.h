#pragma once

// QtEventWatch: the library's watch of one kind of the X server's events
// with a Qt socket notifier on its connection, so the GUI thread's event
// loop wakes when events wait. None away from X11, or where the server
// cannot be watched for that kind. GUI thread only.

#include <QSocketNotifier>

#include <memory>

#include "hollowkit/x11/event_watch.h"

namespace lumenhollow::ui {

struct QtEventWatch {
    std::unique_ptr<hollowkit::x11::EventWatch> watch;
    std::unique_ptr<QSocketNotifier> notifier;

    static std::unique_ptr<QtEventWatch> open(hollowkit::x11::EventWatch::Kind kind);
};

}  // namespace lumenhollow::ui
