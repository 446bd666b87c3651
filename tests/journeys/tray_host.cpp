#include "tests/journeys/tray_host.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace lumenhollow::journey {
namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
constexpr auto kTrayCallLimit = std::chrono::seconds(10);

// One node of an exported menu: its id, its properties and its children
// (each a variant holding another node).
using TrayMenuNode = sdbus::Struct<int32_t, std::map<std::string, sdbus::Variant>, std::vector<sdbus::Variant>>;
// One icon picture: width, height and ARGB32 bytes in network order.
using TrayIconPicture = sdbus::Struct<int32_t, int32_t, std::vector<uint8_t>>;

void trayCollectRows(const TrayMenuNode& node, std::vector<TrayHost::MenuRow>& rows) {
    const auto& properties = node.get<1>();
    TrayHost::MenuRow row;
    row.id = node.get<0>();
    const auto property = [&](const char* name) -> const sdbus::Variant* {
        const auto found = properties.find(name);
        return found == properties.end() ? nullptr : &found->second;
    };
    if (const sdbus::Variant* label = property("label")) row.label = label->get<std::string>();
    if (const sdbus::Variant* visible = property("visible")) row.visible = visible->get<bool>();
    if (const sdbus::Variant* enabled = property("enabled")) row.enabled = enabled->get<bool>();
    // The root (id 0) is the menu itself, not a row.
    if (row.id != 0) rows.push_back(row);
    for (const sdbus::Variant& child : node.get<2>()) trayCollectRows(child.get<TrayMenuNode>(), rows);
}

}  // namespace

TrayHost::TrayHost() = default;

TrayHost::~TrayHost() {
    if (watcherConnection_) watcherConnection_->leaveEventLoop();
    watcher_.reset();
    watcherConnection_.reset();
    client_.reset();
}

std::optional<std::string> TrayHost::missingTool() {
    if (!hollowkit::PrivateDbusDaemon::program()) return "dbus-daemon is not installed";
    return std::nullopt;
}

std::optional<std::string> TrayHost::start() {
    auto started = bus_.start();
    if (!started) return "the session bus did not start: " + started.error();
    try {
        watcherConnection_ = sdbus::createSessionBusConnectionWithAddress(bus_.address());
        watcherConnection_->requestName(kWatcherName);
        watcher_ = sdbus::createObject(*watcherConnection_, kWatcherPath);
        watcher_->registerMethod("RegisterStatusNotifierItem")
            .onInterface(kWatcherName)
            .implementedAs([this](const std::string& service) {
                // An item may name its object path instead; then its bus name is the sender's.
                std::string name = service;
                if (name.empty() || name.front() == '/') name = watcher_->getCurrentlyProcessedMessage()->getSender();
                {
                    std::lock_guard lock(mutex_);
                    if (std::find(items_.begin(), items_.end(), name) == items_.end()) items_.push_back(name);
                }
                watcher_->emitSignal("StatusNotifierItemRegistered").onInterface(kWatcherName).withArguments(name);
            });
        watcher_->registerMethod("RegisterStatusNotifierHost")
            .onInterface(kWatcherName)
            .implementedAs([](const std::string&) {});
        watcher_->registerProperty("RegisteredStatusNotifierItems").onInterface(kWatcherName).withGetter([this] {
            std::lock_guard lock(mutex_);
            return items_;
        });
        watcher_->registerProperty("IsStatusNotifierHostRegistered")
            .onInterface(kWatcherName)
            .withGetter([] { return true; });
        watcher_->registerProperty("ProtocolVersion").onInterface(kWatcherName).withGetter([] { return int32_t{0}; });
        watcher_->registerSignal("StatusNotifierItemRegistered")
            .onInterface(kWatcherName)
            .withParameters<std::string>();
        watcher_->registerSignal("StatusNotifierItemUnregistered")
            .onInterface(kWatcherName)
            .withParameters<std::string>();
        watcher_->registerSignal("StatusNotifierHostRegistered").onInterface(kWatcherName);
        watcher_->finishRegistration();
        watcherConnection_->enterEventLoopAsync();
        client_ = sdbus::createSessionBusConnectionWithAddress(bus_.address());
    } catch (const sdbus::Error& error) {
        return "the tray's watcher could not start: " + error.getMessage();
    }
    return std::nullopt;
}

std::string TrayHost::environment() const { return "DBUS_SESSION_BUS_ADDRESS=" + bus_.address(); }

std::vector<std::string> TrayHost::items() const {
    std::lock_guard lock(mutex_);
    return items_;
}

bool TrayHost::itemPresent(const std::string& item) {
    try {
        auto bus = sdbus::createProxy(*client_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        bool owned = false;
        bus->callMethod("NameHasOwner")
            .onInterface("org.freedesktop.DBus")
            .withTimeout(kTrayCallLimit)
            .withArguments(item)
            .storeResultsTo(owned);
        return owned;
    } catch (const sdbus::Error&) {
        return false;
    }
}

int TrayHost::itemIconSize(const std::string& item) {
    try {
        auto proxy = sdbus::createProxy(*client_, item, kItemPath);
        const sdbus::Variant pictures = proxy->getProperty("IconPixmap").onInterface(kItemInterface);
        int largest = 0;
        for (const TrayIconPicture& picture : pictures.get<std::vector<TrayIconPicture>>()) {
            const int width = picture.get<0>();
            const int height = picture.get<1>();
            // A picture is only one when its bytes cover its size.
            if (picture.get<2>().size() >= static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
                largest = std::max(largest, std::min(width, height));
            }
        }
        return largest;
    } catch (const sdbus::Error&) {
        return 0;
    }
}

std::optional<std::string> TrayHost::menuPath(const std::string& item) {
    try {
        auto proxy = sdbus::createProxy(*client_, item, kItemPath);
        const sdbus::Variant menu = proxy->getProperty("Menu").onInterface(kItemInterface);
        const std::string path = menu.get<sdbus::ObjectPath>();
        if (path.empty() || path == "/") return std::nullopt;
        return path;
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
}

std::optional<std::vector<TrayHost::MenuRow>> TrayHost::menuRows(const std::string& item) {
    const std::optional<std::string> path = menuPath(item);
    if (!path) return std::nullopt;
    return menuRowsAt(item, *path);
}

std::optional<std::vector<TrayHost::MenuRow>> TrayHost::menuRowsAt(const std::string& item, const std::string& path) {
    try {
        auto proxy = sdbus::createProxy(*client_, item, path);
        uint32_t revision = 0;
        TrayMenuNode root;
        proxy->callMethod("GetLayout")
            .onInterface(kMenuInterface)
            .withTimeout(kTrayCallLimit)
            .withArguments(int32_t{0}, int32_t{-1}, std::vector<std::string>{})
            .storeResultsTo(revision, root);
        std::vector<MenuRow> rows;
        trayCollectRows(root, rows);
        return rows;
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
}

std::optional<std::string> TrayHost::clickRow(const std::string& item, const std::string& label) {
    const std::optional<std::string> path = menuPath(item);
    if (!path) return "the item " + item + " names no menu";
    const std::optional<std::vector<MenuRow>> rows = menuRowsAt(item, *path);
    if (!rows) return "the item " + item + " does not answer for its menu";
    const auto row = std::find_if(rows->begin(), rows->end(), [&](const MenuRow& r) { return r.label == label; });
    if (row == rows->end()) return "the menu has no row \"" + label + "\"";
    if (!row->visible || !row->enabled) return "the row \"" + label + "\" is hidden or disabled";
    try {
        auto proxy = sdbus::createProxy(*client_, item, *path);
        // As a panel sends a click; the program may end before it could answer.
        proxy->callMethod("Event")
            .onInterface(kMenuInterface)
            .withArguments(int32_t{row->id}, std::string("clicked"), sdbus::Variant(int32_t{0}),
                           uint32_t{0})
            .dontExpectReply();
    } catch (const sdbus::Error& error) {
        return "the click did not reach the menu: " + error.getMessage();
    }
    return std::nullopt;
}

std::optional<std::string> TrayHost::clickIcon(const std::string& item, int x, int y) {
    try {
        auto proxy = sdbus::createProxy(*client_, item, kItemPath);
        proxy->callMethod("Activate")
            .onInterface(kItemInterface)
            .withTimeout(kTrayCallLimit)
            .withArguments(int32_t{x}, int32_t{y});
    } catch (const sdbus::Error& error) {
        return "the click did not reach the item: " + error.getMessage();
    }
    return std::nullopt;
}

}  // namespace lumenhollow::journey
