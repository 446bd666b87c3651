#include "lumenhollow/ui/window/menu_filler.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

#include "lumenhollow/ui/kit/symbols.h"

namespace lumenhollow {

namespace {

constexpr int kCheckMarkPx = 14;
constexpr const char* kCheckedProperty = "lumenhollowCheckMark";

QIcon checkMarkIcon(const QMenu& menu) {
    const double ratio = menu.devicePixelRatioF();
    QPixmap pixmap(QSize(kCheckMarkPx, kCheckMarkPx) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    ui::Symbols::instance().draw(painter, QRectF(0, 0, kCheckMarkPx, kCheckMarkPx), "checkmark", kCheckMarkPx,
                                 menu.palette().color(QPalette::Text));
    painter.end();
    return QIcon(pixmap);
}

void addEntries(QMenu& menu, const MenuEntries& entries, const MenuChoice& choose, const QIcon& checkMark) {
    for (const MenuEntry& entry : entries) {
        switch (entry.kind) {
            case MenuEntryKind::none: break;
            case MenuEntryKind::divider: menu.addSeparator(); break;
            case MenuEntryKind::header: {
                // A disabled row rather than addSection: Fusion draws a section as a bare line.
                QAction* header = menu.addAction(menuText(entry.title));
                header->setEnabled(false);
                QFont font = header->font();
                font.setBold(true);
                header->setFont(font);
                break;
            }
            case MenuEntryKind::submenu: {
                QMenu* sub = menu.addMenu(menuText(entry.title));
                addEntries(*sub, entry.rows, choose, checkMark);
                break;
            }
            case MenuEntryKind::row: {
                QAction* row = menu.addAction(menuText(entry.title));
                row->setProperty(kCheckedProperty, entry.checked);
                if (entry.checked) row->setIcon(checkMark);
                // The icon column stays even without a check, so titles line up.
                row->setIconVisibleInMenu(true);
                QObject::connect(row, &QAction::triggered, &menu, [choose, entry] { choose(entry); });
                break;
            }
        }
    }
}

}  // namespace

QString menuText(const std::string& title) {
    QString text = QString::fromStdString(title);
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    return text;
}

bool showsCheckMark(const QAction& action) { return action.property(kCheckedProperty).toBool(); }

void fillMenu(QMenu& menu, const MenuEntries& entries, const MenuChoice& choose) {
    // Old rows and submenus go with their menu only once it is back in the event loop.
    for (QAction* action : menu.actions()) {
        if (QMenu* sub = action->menu()) sub->deleteLater();
    }
    menu.clear();
    addEntries(menu, entries, choose, checkMarkIcon(menu));
}

void fillMenuOnShow(QMenu& menu, std::function<MenuEntries()> entries, MenuChoice choose) {
    fillMenu(menu, entries(), choose);
    QObject::connect(&menu, &QMenu::aboutToShow, &menu,
                     [&menu, entries = std::move(entries), choose = std::move(choose)] {
                         fillMenu(menu, entries(), choose);
                     });
}

}  // namespace lumenhollow
