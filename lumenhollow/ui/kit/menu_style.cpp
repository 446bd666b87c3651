#include "lumenhollow/ui/kit/menu_style.h"

#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QVariant>
#include <QWidget>

namespace lumenhollow::ui {

QColor destructiveColor() {
    return QColor(0xff, 0x45, 0x3a);
}

MenuStyle::MenuStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void MenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element == CE_MenuItem && item && widget && (item->state & State_Enabled) &&
        !(item->state & State_Selected) && widget->property(kDestructiveRows).toStringList().contains(item->text)) {
        QStyleOptionMenuItem red = *item;
        for (const auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText}) {
            red.palette.setColor(role, destructiveColor());
        }
        QProxyStyle::drawControl(element, &red, painter, widget);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

}  // namespace lumenhollow::ui
