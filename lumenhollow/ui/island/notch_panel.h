#pragma once

// NotchPanel: the borderless top-level window the island hangs in. It never
// takes the keyboard or becomes the active window, stays above other
// windows on every desktop, is left alone by the window manager
// (override-redirect) and is placed only by its controller. Its window has
// an alpha channel in either mode, so a compositor that starts or stops
// later needs no new window: only the view's mask comes or goes.
// GUI thread only.

#include <QWidget>

#include "lumenhollow/ui/island/island_platform.h"

namespace lumenhollow::ui {

class NotchPanel final : public QWidget {
    Q_OBJECT
public:
    // Top-level by nature, so without a parent; its controller owns it.
    explicit NotchPanel(IslandWindowMode mode);

    IslandWindowMode windowMode() const { return mode_; }
    void setWindowMode(IslandWindowMode mode);

Q_SIGNALS:
    void windowModeChanged();

private:
    IslandWindowMode mode_;
};

}  // namespace lumenhollow::ui
