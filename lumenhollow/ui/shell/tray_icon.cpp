#include "lumenhollow/ui/shell/tray_icon.h"

#include <QCursor>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <algorithm>
#include <chrono>

#include "lumenhollow/platform/linux/session_bus_address.h"
#include "lumenhollow/ui/kit/model_signals.h"
#include "lumenhollow/ui/kit/symbols.h"
#include "lumenhollow/ui/shell/menu_facts.h"
#include "lumenhollow/ui/shell/tray_menu_state.h"

namespace lumenhollow {

namespace {

constexpr QColor kTrayDisc(0x2c, 0x2c, 0x2e);
constexpr QColor kTrayRim(255, 255, 255, 110);
constexpr QColor kTrayGlyph(255, 255, 255);
// The session bus answers whether the watcher has an owner at once; one
// that does not within this has stopped.
constexpr auto kTrayWatcherLimit = std::chrono::seconds(2);
// Light enough to stand out from the dark disc on a dark panel.
constexpr QColor kTrayRecording(0xff, 0x5f, 0x57);

QColor trayGlyphColour(std::string_view symbol) {
    MenuFacts recording;
    recording.recording = true;
    return symbol == traySymbol(recording) ? kTrayRecording : kTrayGlyph;
}

}  // namespace

QImage trayIconImage(std::string_view symbol, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A dark disc stands out on a light panel, its light rim and the glyph on a dark one.
    const double rim = std::max(1.0, pixels / 24.0);
    const QRectF disc = QRectF(0, 0, pixels, pixels).adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2);
    painter.setPen(QPen(kTrayRim, rim));
    painter.setBrush(kTrayDisc);
    painter.drawEllipse(disc);
    ui::Symbols::instance().draw(painter, QRectF(0, 0, pixels, pixels), symbol, pixels * 0.58,
                                 trayGlyphColour(symbol));
    return image;
}

bool trayActivationOpensMenu(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger: return true;
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::MiddleClick: return false;
    }
    return false;
}

TrayIcon::TrayIcon(ModelSignals& model, bool useTray, TrayMenu::FillNotchMenu fillNotchMenu, QObject* parent)
    : QObject(parent), model_(model), menu_(std::make_unique<TrayMenu>(model, std::move(fillNotchMenu))) {
    // Made and shown whether or not a tray exists yet: the desktop places
    // it once one starts.
    if (useTray) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setToolTip(QStringLiteral("Lumenhollow"));
        tray_->setContextMenu(menu_.get());
        // The menu is the item's whole presentation: a plain click opens it
        // too, as a status item's menu opens (a tray reports only the
        // secondary click as one for the context menu).
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (trayActivationOpensMenu(reason)) openMenu();
        });
    }
    model_.onChange({Field::recordingStarted, Field::stats}, this, [this] { refresh(); });
    refresh();
    if (tray_) tray_->show();
}

bool TrayIcon::hasTray() const {
    if (!tray_ || !tray_->isVisible()) return false;
    // With a tray watcher on the session bus Qt asks its owner, on this
    // thread, as long as D-Bus lets it (25 s when a panel stopped after the
    // start): the bus's own word on the owner stands for it. Without one,
    // Qt answers from the X server's tray.
    switch (trayWatcherOwner(kTrayWatcherLimit)) {
    case TrayWatcherOwner::owned: return true;
    case TrayWatcherOwner::none: return QSystemTrayIcon::isSystemTrayAvailable();
    case TrayWatcherOwner::unknown: return false;
    }
    return false;
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

void TrayIcon::openMenu() {
    // A click while it is open reaches the menu, which closes itself.
    if (menu_->isVisible()) return;
    menu_->popup(QCursor::pos());
}

const QIcon& TrayIcon::iconFor(std::string_view symbol) {
    const QString key = QString::fromUtf8(symbol.data(), static_cast<qsizetype>(symbol.size()));
    auto found = icons_.find(key);
    if (found != icons_.end()) return *found;
    const QIcon icon(QPixmap::fromImage(trayIconImage(symbol, kIconPixels)));
    return *icons_.insert(key, icon);
}

}  // namespace lumenhollow
