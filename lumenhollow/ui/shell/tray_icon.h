#pragma once

// TrayIcon: the application's icon in the system tray and its menu. The
// menu is always built; the icon only where a tray exists. The icon's
// symbol follows the model (traySymbol): recording, a live picture, or
// neither. Owned by the application for its whole life. GUI thread only.

#include <QHash>
#include <QIcon>
#include <QObject>

#include <memory>
#include <string>
#include <string_view>

#include "lumenhollow/ui/shell/tray_menu.h"

class QSystemTrayIcon;

namespace lumenhollow {

class ModelSignals;

class TrayIcon final : public QObject {
    Q_OBJECT

public:
    // The side of the drawn icon in pixels; the tray scales it.
    static constexpr int kIconPixels = 64;

    // `model` must outlive the icon. With `trayAvailable` false only the
    // menu is made (QSystemTrayIcon::isSystemTrayAvailable decides in the
    // application).
    TrayIcon(ModelSignals& model, bool trayAvailable, TrayMenu::FillNotchMenu fillNotchMenu,
             QObject* parent = nullptr);
    ~TrayIcon() override;

    TrayMenu& menu() const { return *menu_; }
    bool hasTray() const { return tray_ != nullptr; }
    // The symbol the icon shows now.
    const std::string& symbol() const { return symbol_; }

private:
    void refresh();
    const QIcon& iconFor(std::string_view symbol);

    ModelSignals& model_;
    const std::unique_ptr<TrayMenu> menu_;
    QSystemTrayIcon* tray_ = nullptr;  // child of this
    std::string symbol_;
    QHash<QString, QIcon> icons_;  // by symbol: drawn once each
};

}  // namespace lumenhollow
