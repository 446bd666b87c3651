#include "lumenhollow/ui/kit/popup_screens.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

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

PopupScreenKeeper::PopupScreenKeeper(QObject* parent) : QObject(parent) {
    for (QScreen* screen : QGuiApplication::screens()) watch(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) { watch(screen); });
}

void PopupScreenKeeper::watch(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this, screen] { keepInside(screen); });
    connect(screen, &QScreen::availableGeometryChanged, this, [this, screen] { keepInside(screen); });
}

void PopupScreenKeeper::keepInside(QScreen* screen) {
    const QRect area = screen->availableGeometry();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || widget->windowType() != Qt::Popup || widget->screen() != screen) continue;
        const QPoint at = placeInside(widget->frameGeometry(), area);
        if (at != widget->frameGeometry().topLeft()) widget->move(at);
    }
}

}  // namespace lumenhollow::ui
