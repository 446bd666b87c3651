#pragma once

// TrayIcon: the application's icon in the system tray and its menu. The
// menu is always built; the icon is handed to the desktop, which shows it
// whenever a tray exists, also a tray that starts after the application.
// The icon's symbol follows the model (traySymbol): recording, a live
// picture, or neither; it is drawn in colour on a dark disc with a light
// rim, so it shows on light and dark panels alike (only macOS honours an
// icon marked as a mask). A click on the icon opens the menu, as the
// secondary click does (trayActivationOpensMenu). Owned by the application
// for its whole life. GUI thread only.

#include <QHash>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QSystemTrayIcon>

#include <memory>
#include <string>
#include <string_view>

#include "lumenhollow/ui/shell/tray_menu.h"

namespace lumenhollow {

class ModelSignals;

// The tray's picture of `symbol`, `pixels` square.
QImage trayIconImage(std::string_view symbol, int pixels);

// Whether the tray's report of a press on the icon opens the menu from
// here: the primary click does. The secondary click (Context) opens it
// already, by the tray itself or by Qt; a double click follows a click
// whose menu is open.
bool trayActivationOpensMenu(QSystemTrayIcon::ActivationReason reason);

class TrayIcon final : public QObject {
    Q_OBJECT

public:
    // The side of the drawn icon in pixels; the tray scales it.
    static constexpr int kIconPixels = 64;

    // `model` must outlive the icon. With `useTray` false only the menu is
    // made (tests without a desktop).
    TrayIcon(ModelSignals& model, bool useTray, TrayMenu::FillNotchMenu fillNotchMenu, QObject* parent = nullptr);
    ~TrayIcon() override;

    TrayMenu& menu() const { return *menu_; }
    // A tray shows the icon now; asked of the desktop each time.
    bool hasTray() const;
    // The symbol the icon shows now.
    const std::string& symbol() const { return symbol_; }

private:
    void refresh();
    // Opens the menu where the pointer is (on the icon, which was clicked).
    void openMenu();
    const QIcon& iconFor(std::string_view symbol);

    ModelSignals& model_;
    const std::unique_ptr<TrayMenu> menu_;
    QSystemTrayIcon* tray_ = nullptr;  // child of this
    std::string symbol_;
    QHash<QString, QIcon> icons_;  // by symbol: drawn once each
};

}  // namespace lumenhollow
