#pragma once

// Controls the keyboard and a screen reader press as the mouse does.
//
// A pressable control is in the window's Tab order but a click does not take
// the keyboard (the picture keeps it for the gimbal); Space, Return and Enter
// press it; keys it has no use of (the arrows, letters, Escape) go on to its
// parents, so they still reach the picture. A screen reader finds it as a
// push button, or a menu button for one that opens a menu or a popover,
// whose actions press it.
//
// The focus ring shows where the keyboard put the focus, never after a
// click: 2 pixels of the platform accent just inside the control's outline,
// drawn by the control itself at the end of its painting. GUI thread only.

#include <QObject>
#include <QRectF>
#include <functional>
#include <optional>

#include "lumenhollow/ui/kit/glass.h"

class QPainter;
class QWidget;

namespace lumenhollow::ui {

// Whether a control shows its ring once the focus came to it for `reason`,
// `shownBefore` being whether it showed one until then: the keyboard moving
// the focus (Tab, Shift+Tab, a shortcut) shows it; the window coming back or
// a popup closing keeps it as it was; a click, the program or anything else
// hides it.
bool focusRingShown(Qt::FocusReason reason, bool shownBefore);

inline constexpr double kFocusRingWidth = 2;

// Follows the focus of the widget it is made for and repaints the widget as
// its ring comes and goes. Owned by the widget.
class FocusRing final : public QObject {
    Q_OBJECT
public:
    // The ring of `control`, made once.
    static FocusRing& of(QWidget& control);
    bool shown() const { return shown_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FocusRing(QWidget& control);

    QWidget& control_;
    bool keyboard_ = false;
    bool shown_ = false;
};

// True while `control` has a ring made for it and the keyboard's focus.
bool showsFocusRing(const QWidget& control);

// Paints the ring of `control` along `shape` in `rect` when it shows.
void paintFocusRing(QPainter& painter, const QWidget& control, GlassShape shape, const QRectF& rect,
                    double cornerRadius = 0);

enum class PressRole { button, menuButton };

// Makes `control` pressable: `press` does what a click does (opens the
// menu or the popover, runs the command); `isOpen`, for a menu button, tells
// whether what it opens is open (a screen reader reads it as expanded).
// Called again, it changes them. Returns the control's ring.
FocusRing& makePressable(QWidget& control, PressRole role, std::function<void()> press,
                         std::function<bool()> isOpen = {});

// Presses `control` as Space does, when it is pressable; false otherwise.
bool pressControl(QWidget& control);
// Whether what the menu button `control` opens is open.
bool pressedOpen(const QWidget& control);
// The role given to `control`, when it is pressable.
std::optional<PressRole> pressRole(const QWidget& control);

}  // namespace lumenhollow::ui
