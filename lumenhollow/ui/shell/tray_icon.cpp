#include "lumenhollow/ui/shell/tray_icon.h"

#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/shell/menu_facts.h"
#include "lumenhollow/ui/shell/tray_menu_state.h"

namespace lumenhollow {

TrayIcon::TrayIcon(ModelSignals& model, bool trayAvailable, TrayMenu::FillNotchMenu fillNotchMenu,
                   QObject* parent)
    : QObject(parent), model_(model), menu_(std::make_unique<TrayMenu>(model, std::move(fillNotchMenu))) {
    if (trayAvailable) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setToolTip(QStringLiteral("Lumenhollow"));
        tray_->setContextMenu(menu_.get());
    }
    model_.onChange({Field::recordingStarted, Field::stats}, this, [this] { refresh(); });
    refresh();
    if (tray_) tray_->show();
}

TrayIcon::~TrayIcon() {
    // The tray lets go of the menu before the menu goes.
    delete tray_;
}

void TrayIcon::refresh() {
    const std::string symbol(traySymbol(menuFacts(model_.model(), false)));
    if (symbol == symbol_) return;
    symbol_ = symbol;
    if (tray_) tray_->setIcon(iconFor(symbol_));
}

const QIcon& TrayIcon::iconFor(std::string_view symbol) {
    const QString key = QString::fromUtf8(symbol.data(), static_cast<qsizetype>(symbol.size()));
    auto found = icons_.find(key);
    if (found != icons_.end()) return *found;
    QPixmap pixmap(kIconPixels, kIconPixels);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        ui::Symbols::instance().draw(painter, QRectF(0, 0, kIconPixels, kIconPixels), symbol, kIconPixels * 0.8,
                                     Qt::white);
    }
    QIcon icon(pixmap);
    // Drawn in one colour: a desktop that tints tray icons may recolour it.
    icon.setIsMask(true);
    return *icons_.insert(key, icon);
}

}  // namespace lumenhollow
