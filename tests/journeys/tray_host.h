#pragma once

// TrayHost: the smallest system tray a Qt program on X11 shows its icon in,
// for a journey's desktop: a private session bus (a dbus-daemon of the
// test's own) on which it owns org.kde.StatusNotifierWatcher, the name Qt
// looks for when it starts to decide that a tray exists. Programs started
// with environment() register their StatusNotifierItem with it; the host
// reads an item's icon and its exported menu (com.canonical.dbusmenu),
// clicks a menu row as a tray's panel does, by the row's label, and passes
// on a plain click on the icon as a panel does (Activate).
//
// Threads: the watcher answers on its own D-Bus thread; every method here
// is called on the test's thread and waits at most a few seconds for the
// bus.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hollowkit/testing/private_dbus_daemon.h"

namespace sdbus {
class IConnection;
class IObject;
}  // namespace sdbus

namespace lumenhollow::journey {

class TrayHost {
public:
    // One row of an item's menu, as the menu exports it.
    struct MenuRow {
        int id = 0;
        std::string label;  // mnemonics as exported ("_" before the key)
        bool visible = true;
        bool enabled = true;
    };

    TrayHost();
    ~TrayHost();
    TrayHost(const TrayHost&) = delete;
    TrayHost& operator=(const TrayHost&) = delete;

    // Why the machine cannot give a tray (no dbus-daemon); nothing when it can.
    static std::optional<std::string> missingTool();

    // Starts the bus and takes the watcher's name. An error says what failed.
    std::optional<std::string> start();

    // What a program needs to find this tray: its session bus.
    std::string environment() const;

    // The bus names of the items registered so far, oldest first.
    std::vector<std::string> items() const;
    // Whether the item's name still has an owner on the bus.
    bool itemPresent(const std::string& item);
    // The side of the largest icon picture the item offers; 0 for none.
    int itemIconSize(const std::string& item);
    // The item's menu rows, depth first; nothing when it has no menu or
    // does not answer.
    std::optional<std::vector<MenuRow>> menuRows(const std::string& item);
    // Clicks the visible, enabled row labelled `label`; an error says why not.
    std::optional<std::string> clickRow(const std::string& item, const std::string& label);
    // A plain (primary) click on the item's icon, which the panel draws at
    // (x, y) on the screen: the panel tells the item with Activate. An
    // error says why it could not.
    std::optional<std::string> clickIcon(const std::string& item, int x, int y);

private:
    std::optional<std::string> menuPath(const std::string& item);
    std::optional<std::vector<MenuRow>> menuRowsAt(const std::string& item, const std::string& path);

    hollowkit::PrivateDbusDaemon bus_;
    std::unique_ptr<sdbus::IConnection> watcherConnection_;
    std::unique_ptr<sdbus::IObject> watcher_;
    // The test's own calls go on a connection of their own, never on the
    // watcher's thread.
    std::unique_ptr<sdbus::IConnection> client_;
    mutable std::mutex mutex_;
    std::vector<std::string> items_;  // under mutex_
};

}  // namespace lumenhollow::journey
