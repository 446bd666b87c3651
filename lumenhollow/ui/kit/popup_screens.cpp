#include "lumenhollow/ui/kit/popup_screens.h"

#include <QApplication>
#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <map>
#include <vector>

namespace lumenhollow::ui {

QPoint placeInside(const QRect& popup, const QRect& area) {
    // The far edge is pulled in first, then the near one: a pop-up larger
    // than the area keeps its top or left edge on it.
    const auto clamp = [](int at, int length, int low, int span) {
        return std::max(low, std::min(at, low + span - length));
    };
    return {clamp(popup.left(), popup.width(), area.left(), area.width()),
            clamp(popup.top(), popup.height(), area.top(), area.height())};
}

QPoint placeSubmenu(const QRect& submenu, const QRect& parentWas, const QRect& parentNow, const QRect& area) {
    const QPoint shift = parentNow.topLeft() - parentWas.topLeft();
    QRect place = submenu.translated(shift);
    const bool fits = place.left() >= area.left() && place.right() <= area.right();
    if (!fits) {
        const bool openedRight = submenu.center().x() >= parentWas.center().x();
        const int otherSide = openedRight ? parentNow.left() - submenu.width() : parentNow.right() + 1;
        if (otherSide >= area.left() && otherSide + submenu.width() <= area.right() + 1) place.moveLeft(otherSide);
    }
    return placeInside(place, area);
}

namespace {

// The open menu `menu` was opened from, if it is a submenu: the visible menu
// whose row for it is the active one.
QMenu* parentMenu(const QMenu& menu) {
    QAction* row = menu.menuAction();
    for (QObject* object : row->associatedObjects()) {
        auto* parent = qobject_cast<QMenu*>(object);
        if (parent && parent != &menu && parent->isVisible() && parent->activeAction() == row) return parent;
    }
    return nullptr;
}

}  // namespace

PopupScreenKeeper::PopupScreenKeeper(QObject* parent) : QObject(parent) {
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) { watch(screen); });
}

void PopupScreenKeeper::watch(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this, screen] { keepInside(screen); });
    connect(screen, &QScreen::availableGeometryChanged, this, [this, screen] { keepInside(screen); });
}

void PopupScreenKeeper::keepInside(QScreen* screen) {
    std::vector<QWidget*> popups;
    // In the order of a hash: any order at all.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowType() == Qt::Popup && widget->screen() == screen) {
            popups.push_back(widget);
        }
    }
    keepPopupsInside(std::move(popups), screen->availableGeometry());
}

void keepPopupsInside(std::vector<QWidget*> popups, const QRect& area) {
    // A submenu goes beside its parent menu, so each parent is placed before
    // its submenu: pulled in on its own, the submenu would cover its parent's
    // rows.
    std::map<const QWidget*, QRect> was;
    for (QWidget* widget : popups) was[widget] = widget->frameGeometry();
    const auto depth = [](QWidget* widget) {
        int levels = 0;
        for (auto* menu = qobject_cast<QMenu*>(widget); menu && (menu = parentMenu(*menu));) ++levels;
        return levels;
    };
    std::stable_sort(popups.begin(), popups.end(),
                     [&](QWidget* a, QWidget* b) { return depth(a) < depth(b); });
    for (QWidget* widget : popups) {
        const QRect frame = widget->frameGeometry();
        auto* menu = qobject_cast<QMenu*>(widget);
        QMenu* parent = menu ? parentMenu(*menu) : nullptr;
        const auto parentWas = parent ? was.find(parent) : was.end();
        const QPoint at = parentWas != was.end()
                              ? placeSubmenu(frame, parentWas->second, parent->frameGeometry(), area)
                              : placeInside(frame, area);
        if (at != frame.topLeft()) widget->move(at);
    }
}

}  // namespace lumenhollow::ui
