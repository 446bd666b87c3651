#include "lumenhollow/platform/linux/session_bus_address.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>

#include "hollowkit/base/command_runner.h"
#include "hollowkit/base/pocket_log.h"
#include "lumenhollow/platform/linux/bounded_bus.h"

#include <systemd/sd-bus.h>

namespace lumenhollow {

namespace {

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The session bus settled for this process; empty where there is none.
std::string settledSessionBus() {
    const std::string address = environmentText("DBUS_SESSION_BUS_ADDRESS");
    return address == kNoSessionBus ? std::string() : address;
}

using Clock = std::chrono::steady_clock;

// What is left of a wait until `deadline`; never negative.
hollowkit::Duration leftUntil(Clock::time_point deadline) {
    return std::max<hollowkit::Duration>(hollowkit::Duration::zero(),
                                         std::chrono::duration_cast<hollowkit::Duration>(deadline - Clock::now()));
}

long long wholeSeconds(hollowkit::Duration limit) {
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(limit).count());
}

using OpenedBus = hollowkit::Result<std::unique_ptr<BoundedBus>, BusFailure>;

// Calls on `bus` once it opened, else fails as its opening did; until
// `deadline`.
hollowkit::Result<BusReply, BusFailure> askOpened(const OpenedBus& bus, const char* destination, const char* path,
                                                  const char* interface, const char* member,
                                                  const BoundedBus::Arguments& arguments, Clock::time_point deadline,
                                                  int interruptFd) {
    if (!bus) return hollowkit::unexpected(bus.error());
    return (*bus)->call(destination, path, interface, member, arguments, leftUntil(deadline), interruptFd);
}

// How a greeting that came to nothing met the start.
SessionBusGreeting greetingAfter(BusFailure::Kind kind) {
    switch (kind) {
    case BusFailure::Kind::refused:
        return SessionBusGreeting::absent;
    case BusFailure::Kind::stopped:
        return SessionBusGreeting::interrupted;
    case BusFailure::Kind::silent:
        break;
    }
    return SessionBusGreeting::silent;
}

std::string firstLineOf(const char* file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

SessionBusChoice chooseSessionBus(const SessionBusFacts& facts) {
    if (!facts.address.empty()) return SessionBusChoice::asSet;
    if (!facts.runtimeBusSocket.empty()) return SessionBusChoice::runtimeSocket;
    if (!facts.dbusLaunch.empty() && !facts.display.empty() && !facts.machineId.empty()) {
        return SessionBusChoice::autolaunch;
    }
    return SessionBusChoice::none;
}

std::string unixPathAddress(std::string_view path) {
    // Bytes other than these are written %XX.
    static constexpr std::string_view kPlain =
        "-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_/.*";
    static constexpr char kHex[] = "0123456789abcdef";
    std::string address = "unix:path=";
    for (const char c : path) {
        if (kPlain.find(c) != std::string_view::npos) {
            address += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            address += '%';
            address += kHex[byte >> 4];
            address += kHex[byte & 0xf];
        }
    }
    return address;
}

std::optional<std::string> addressFromDbusLaunch(std::string_view printed) {
    static constexpr std::string_view kName = "DBUS_SESSION_BUS_ADDRESS=";
    size_t at = 0;
    // The name at the start of a line.
    while ((at = printed.find(kName, at)) != std::string_view::npos && at != 0 && printed[at - 1] != '\n') ++at;
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view value = printed.substr(at + kName.size());
    value = value.substr(0, value.find('\n'));
    if (!value.empty() && value.back() == ';') value.remove_suffix(1);
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') value = value.substr(1, value.size() - 2);
    if (value.empty() || value.find(':') == std::string_view::npos) return std::nullopt;
    return std::string(value);
}

SessionBusFacts currentSessionBusFacts() {
    SessionBusFacts facts;
    facts.address = environmentText("DBUS_SESSION_BUS_ADDRESS");
    if (const std::string runtime = environmentText("XDG_RUNTIME_DIR"); !runtime.empty()) {
        const std::string socket = runtime + "/bus";
        struct stat status {};
        if (::stat(socket.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) facts.runtimeBusSocket = socket;
    }
    // Where libdbus looks for it: its own folder first, then the search path.
    const std::string path = environmentText("PATH");
    facts.dbusLaunch = hollowkit::findProgram("/usr/bin:" + path, "dbus-launch").value_or("");
    facts.display = environmentText("DISPLAY");
    facts.machineId = firstLineOf("/etc/machine-id");
    if (facts.machineId.empty()) facts.machineId = firstLineOf("/var/lib/dbus/machine-id");
    return facts;
}

std::optional<std::string> settleSessionBusAddress(const SessionBusFacts& facts, hollowkit::Duration launchLimit) {
    std::string address;
    switch (chooseSessionBus(facts)) {
    case SessionBusChoice::asSet:
        return std::nullopt;
    case SessionBusChoice::runtimeSocket:
        address = unixPathAddress(facts.runtimeBusSocket);
        break;
    case SessionBusChoice::autolaunch: {
        const hollowkit::CommandResult launched = hollowkit::CommandRunner::run(
            facts.dbusLaunch, {"--autolaunch=" + facts.machineId, "--sh-syntax", "--close-stderr"}, {},
            /*logged=*/false, launchLimit);
        const std::optional<std::string> named =
            launched.status == 0 ? addressFromDbusLaunch(launched.output) : std::nullopt;
        address = named ? *named : kNoSessionBus;
        break;
    }
    case SessionBusChoice::none:
        address = kNoSessionBus;
        break;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return address;
}

SessionBusGreeting greetSessionBus(hollowkit::Duration limit, int interruptFd) {
    const std::string address = settledSessionBus();
    if (address.empty()) return SessionBusGreeting::absent;
    const auto deadline = Clock::now() + limit;
    // A bus that answers the Hello and then nothing (a daemon stopped just
    // after, a broken proxy) holds each later call as long as its client's
    // own timeout: it must answer a call of its own as well.
    const auto asked = askOpened(BoundedBus::open(address, limit, interruptFd), "org.freedesktop.DBus",
                                 "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", {}, deadline, interruptFd);
    if (asked) return SessionBusGreeting::answered;
    if (const SessionBusGreeting met = greetingAfter(asked.error().kind); met != SessionBusGreeting::silent) {
        return met;
    }
    hollowkit::PocketLog::logf(
        "The session bus (%s) did not answer within %lld s; going on without it: no tray icon, keyring or screen "
        "saver inhibition",
        address.c_str(), wholeSeconds(limit));
    ::setenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus, 1);
    return SessionBusGreeting::silent;
}

SessionBusGreeting greetAccessibilityBus(hollowkit::Duration limit, int interruptFd) {
    const auto deadline = Clock::now() + limit;
    std::string address = environmentText("AT_SPI_BUS_ADDRESS");
    std::string silentPart = "accessibility bus";
    if (address == kNoSessionBus) return SessionBusGreeting::absent;
    SessionBusGreeting met = SessionBusGreeting::answered;
    if (address.empty()) {
        const std::string session = settledSessionBus();
        if (session.empty()) return SessionBusGreeting::absent;
        silentPart = "accessibility bus launcher";
        const auto asked = askOpened(BoundedBus::open(session, leftUntil(deadline), interruptFd), "org.a11y.Bus",
                                     "/org/a11y/bus", "org.a11y.Bus", "GetAddress", {}, deadline, interruptFd);
        const char* named = nullptr;
        if (!asked) {
            met = greetingAfter(asked.error().kind);
        } else if (sd_bus_message_read(asked->get(), "s", &named) < 0 || !named || !*named) {
            met = SessionBusGreeting::absent;
        } else {
            address = named;
        }
    }
    if (met == SessionBusGreeting::answered) {
        silentPart = "accessibility bus";
        const auto asked =
            askOpened(BoundedBus::open(address, leftUntil(deadline), interruptFd), "org.freedesktop.DBus",
                      "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", {}, deadline, interruptFd);
        if (!asked) met = greetingAfter(asked.error().kind);
    }
    if (met != SessionBusGreeting::silent) return met;
    hollowkit::PocketLog::logf("The %s did not answer within %lld s; going on without it: no screen reader",
                               silentPart.c_str(), wholeSeconds(limit));
    ::setenv("AT_SPI_BUS_ADDRESS", kNoSessionBus, 1);
    return SessionBusGreeting::silent;
}

SessionBusGreeting greetTrayWatcher(hollowkit::Duration limit, int interruptFd) {
    const std::string session = settledSessionBus();
    if (session.empty()) return SessionBusGreeting::absent;
    const auto deadline = Clock::now() + limit;
    const OpenedBus bus = BoundedBus::open(session, limit, interruptFd);
    // Qt's questions in its order: the watcher's description, then whether
    // a tray shows its items. Each must be answered.
    const auto ask = [&](const char* interface, const char* member, const BoundedBus::Arguments& arguments) {
        return askOpened(bus, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", interface, member,
                         arguments, deadline, interruptFd);
    };
    auto asked = ask("org.freedesktop.DBus.Introspectable", "Introspect", {});
    const auto noWatcher = [](const BusFailure& failure) {
        return failure.kind == BusFailure::Kind::refused &&
               failure.text.find("org.freedesktop.DBus.Error.ServiceUnknown") != std::string::npos;
    };
    // An error its owner answered is an answer too.
    if (bus && (asked || (asked.error().kind == BusFailure::Kind::refused && !noWatcher(asked.error())))) {
        asked = ask("org.freedesktop.DBus.Properties", "Get", [](sd_bus_message* call) {
            return sd_bus_message_append(call, "ss", "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered");
        });
    }
    if (asked) return SessionBusGreeting::answered;
    // No bus or no watcher: Qt finds none as fast.
    if (asked.error().kind == BusFailure::Kind::refused && bus && !noWatcher(asked.error())) {
        return SessionBusGreeting::answered;
    }
    if (const SessionBusGreeting met = greetingAfter(asked.error().kind); met != SessionBusGreeting::silent) {
        return met;
    }
    hollowkit::PocketLog::logf(
        "The tray watcher (org.kde.StatusNotifierWatcher) did not answer within %lld s; going on without a tray "
        "icon",
        wholeSeconds(limit));
    return SessionBusGreeting::silent;
}

TrayWatcherOwner trayWatcherOwner(hollowkit::Duration limit) {
    const std::string session = settledSessionBus();
    if (session.empty()) return TrayWatcherOwner::none;
    const auto deadline = Clock::now() + limit;
    const auto asked = askOpened(
        BoundedBus::open(session, limit), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner",
        [](sd_bus_message* call) { return sd_bus_message_append(call, "s", "org.kde.StatusNotifierWatcher"); },
        deadline, -1);
    if (!asked) return asked.error().kind == BusFailure::Kind::silent ? TrayWatcherOwner::unknown : TrayWatcherOwner::none;
    int owned = 0;
    if (sd_bus_message_read(asked->get(), "b", &owned) < 0) return TrayWatcherOwner::none;
    return owned ? TrayWatcherOwner::owned : TrayWatcherOwner::none;
}

}  // namespace lumenhollow
