#include "lumenhollow/ui/window/rail_menu.h"

#include "lumenhollow/ui/kit/keyboard_press.h"

namespace lumenhollow {

RailMenu::RailMenu(std::string symbol, const QString& help, QMenu& menu, QWidget* parent)
    : ui::IconButton(std::move(symbol), help, kSize, parent), menu_(&menu) {
    connect(this, &QAbstractButton::pressed, this, [this] { openMenu(); });
    ui::makePressable(*this, ui::PressRole::menuButton, [this] { openMenu(); }, [this] { return menu_->isVisible(); });
}

void RailMenu::openMenu() {
    // The width is the last filling's, close enough for placing; the screen
    // keeps the menu in view when it does not fit to the left.
    const QPoint topLeft = mapToGlobal(QPoint(0, 0));
    menu_->popup(QPoint(topLeft.x() - menu_->sizeHint().width(), topLeft.y()));
    setDown(false);
}

}  // namespace lumenhollow
