#pragma once

// A stand-in for the window manager's WM_TAKE_FOCUS messages and the
// server's focus changes: the test sends them itself. Header only, so the
// libraries without Qt never see it.

#include "lumenhollow/ui/window/take_focus_source.h"

namespace lumenhollow::test {

class FakeTakeFocusSource final : public TakeFocusSource {
public:
    void send(quintptr window, quint32 serverTime) { Q_EMIT takeFocus(window, serverTime); }
    void focusTo(quintptr window) { Q_EMIT focusIn(window); }
    void focusFrom(quintptr window) { Q_EMIT focusOut(window); }
};

}  // namespace lumenhollow::test
