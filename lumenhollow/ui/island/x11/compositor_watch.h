#pragma once

#include <memory>

#include "lumenhollow/ui/island/island_platform.h"

namespace lumenhollow::ui {

struct QtEventWatch;

// Translucent while a compositing manager owns the screen's _NET_WM_CM_S<n>
// selection, a shape mask otherwise. The X server tells of every change of
// that owner (XFixes selection events, over a connection of its own), so a
// compositor that starts or stops later is followed. Away from X11, or
// where the server cannot tell, the mode found at start stays (translucent
// away from X11). A watch whose connection breaks says so in the log, and
// the mode last found stays. GUI thread only.
class CompositorWatch final : public WindowModeSource {
    Q_OBJECT
public:
    explicit CompositorWatch(QObject* parent = nullptr);
    ~CompositorWatch() override;
    IslandWindowMode mode() const override { return mode_; }

private:
    void read();

    std::unique_ptr<QtEventWatch> x_;
    IslandWindowMode mode_ = IslandWindowMode::translucent;
};

}  // namespace lumenhollow::ui
