#include "lumenhollow/ui/kit/menu_style.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QVariant>
#include <QWidget>

#include <algorithm>

#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow::ui {

namespace {

// The mark's size: as tall as the menu's capital letters and a little more.
constexpr double kCheckMarkPx = 15;

bool menuRowIsDestructive(const QStyleOptionMenuItem& item, const QWidget* widget) {
    return widget && (item.state & QStyle::State_Enabled) && !(item.state & QStyle::State_Selected) &&
           widget->property(kDestructiveRows).toStringList().contains(item.text);
}

bool menuRowWantsMark(const QStyleOptionMenuItem& item, const QWidget* widget) {
    if (item.checkType == QStyleOptionMenuItem::NotCheckable || !item.checked) return false;
    const auto* menu = qobject_cast<const QMenu*>(widget);
    const QAction* action = menu ? menu->actionAt(item.rect.center()) : nullptr;
    return !(action && action->property(kNoCheckMark).toBool());
}

// The column Fusion keeps for marks and icons, left of the title.
QRect menuCheckColumn(const QStyleOptionMenuItem& item) {
    const int column = std::max({static_cast<int>(item.rect.height() * 0.79), item.maxIconWidth, 21});
    const QRect box(item.rect.left() + 4, item.rect.top(), column, item.rect.height());
    return QStyle::visualRect(item.direction, item.rect, box);
}

}  // namespace

QColor destructiveColor() {
    return QColor(0xff, 0x45, 0x3a);
}

MenuStyle::MenuStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void MenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element != CE_MenuItem || !item) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    QStyleOptionMenuItem row = *item;
    if (menuRowIsDestructive(*item, widget)) {
        for (const auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText}) {
            row.palette.setColor(role, destructiveColor());
        }
    }
    // Fusion would draw a box beside a toggle and a bullet beside a choice;
    // the row is drawn as a plain one (its title keeps its place) and the
    // mark added on its own.
    const bool mark = menuRowWantsMark(*item, widget);
    row.checkType = QStyleOptionMenuItem::NotCheckable;
    row.checked = false;
    QProxyStyle::drawControl(element, &row, painter, widget);
    if (!mark || row.menuItemType == QStyleOptionMenuItem::Separator) return;
    const bool enabled = row.state & State_Enabled;
    const bool selected = enabled && (row.state & State_Selected);
    const QColor colour = row.palette.color(enabled ? QPalette::Active : QPalette::Disabled,
                                            selected ? QPalette::HighlightedText : QPalette::Text);
    Symbols::instance().draw(*painter, menuCheckColumn(row), "checkmark", kCheckMarkPx, colour);
}

}  // namespace lumenhollow::ui
