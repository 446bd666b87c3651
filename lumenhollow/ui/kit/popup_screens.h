#pragma once

// The application's open pop-up windows (the gear's and the menu bar's
// menus, a form's pop-up list, any menu opened at the pointer) are placed
// once, when they open. When the usable area of their screen changes while
// they are up (a change of resolution, a panel added), one left outside it
// is moved back inside, so it never stays open out of sight; an open
// submenu goes beside its menu, never over it. Pop-ups that
// follow an anchor of their own (the pills' menus, the popovers) are already
// inside by then and are left alone.

#include <QObject>
#include <QPoint>
#include <QRect>

#include <vector>

class QScreen;
class QWidget;

namespace lumenhollow::ui {

// Where a pop-up at `popup` (global) goes to lie inside `area`: its own
// place when it lies inside already; otherwise pulled in along each axis,
// its top-left corner kept inside where it is larger than the area.
QPoint placeInside(const QRect& popup, const QRect& area);

// Where an open submenu at `submenu` goes once its parent menu moved from
// `parentWas` to `parentNow` inside `area`: along with its parent, on the
// side it opened to; where that side has no room, on the other side; and
// only where neither has room, pulled in over the parent.
QPoint placeSubmenu(const QRect& submenu, const QRect& parentWas, const QRect& parentNow, const QRect& area);

// Moves the open pop-ups `popups`, given in any order, inside `area`: each
// by placeInside, an open submenu by placeSubmenu once its menu is placed.
void keepPopupsInside(std::vector<QWidget*> popups, const QRect& area);

class PopupScreenKeeper final : public QObject {
    Q_OBJECT
public:
    // Watches every screen, those added later too, for the application's
    // life or its own.
    explicit PopupScreenKeeper(QObject* parent = nullptr);

private:
    void watch(QScreen* screen);
    void keepInside(QScreen* screen);
};

}  // namespace lumenhollow::ui
