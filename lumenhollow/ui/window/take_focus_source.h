#pragma once

// TakeFocusSource: the window manager's word that it hands the keyboard to
// one of our windows (ICCCM's WM_TAKE_FOCUS), with the server time of the
// event that made it do so; a click-to-focus manager stamps it with the
// activating press's own time. The X11 backend is XcbTakeFocusSource
// (x11/); tests send the messages themselves. GUI thread only.

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
};

}  // namespace lumenhollow
