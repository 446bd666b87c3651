#include "lumenhollow/ui/island/notch_panel.h"

namespace lumenhollow::ui {

NotchPanel::NotchPanel(IslandWindowMode mode)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint),
      mode_(mode) {
    setObjectName(QStringLiteral("NotchPanel"));
    setWindowTitle(QStringLiteral("Lumenhollow Island"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    // The panel only ever shows the island; every other pixel is see-through
    // (blended by a compositor, or cut away by the view's mask, without
    // which an unblended alpha channel shows black).
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    // Tooltips of the island's controls show although the panel is never active.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFixedSize(NotchSizes::panel);
    // Clicks pass through until the pointer is first found over the island.
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    setWindowFlag(Qt::WindowTransparentForInput, true);
}

void NotchPanel::setWindowMode(IslandWindowMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    Q_EMIT windowModeChanged();
}

}  // namespace lumenhollow::ui
