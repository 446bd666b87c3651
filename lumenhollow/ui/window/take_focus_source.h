#pragma once

// TakeFocusSource: the window manager's word that it hands the keyboard to
// one of our windows (ICCCM's WM_TAKE_FOCUS), with the server time of the
// event that made it do so (a click-to-focus manager stamps it with the
// activating press's own time), and the keyboard focus arriving at and
// leaving our windows, all in the order the server sent them. Qt's own
// activation comes later and out of that order (it is queued behind the
// raw messages, and a loss of focus waits for a focus that may follow).
// The X11 backend is XcbTakeFocusSource (x11/); tests send the messages
// themselves. GUI thread only.

#include <QObject>

#include <cstdint>

namespace lumenhollow {

class TakeFocusSource : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

Q_SIGNALS:
    // `window` is the X window the message was for (QWindow::winId()).
    void takeFocus(quintptr window, quint32 serverTime);
    // The keyboard focus came to `window` from elsewhere, or left it; not
    // the passing changes of a keyboard grab (a window manager's Alt+Tab).
    void focusIn(quintptr window);
    void focusOut(quintptr window);
};

}  // namespace lumenhollow
