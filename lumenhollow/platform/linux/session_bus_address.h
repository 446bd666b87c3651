#pragma once

// The session bus's address, settled once at the program's start, before
// any thread exists.
//
// Without DBUS_SESSION_BUS_ADDRESS, the D-Bus libraries look for the bus on
// their own when first asked, from whatever thread asks: libdbus then forks
// the running program to start `dbus-launch --autolaunch`, and a child forked
// from a program of many threads may hang before it runs anything (a lock
// another thread held at the fork is never let go in the child), leaving the
// asking thread (the main one, making the tray icon) reading from it for
// ever. So the address is found here instead, where a fork is safe: the
// user's bus in $XDG_RUNTIME_DIR, or the one `dbus-launch --autolaunch`
// names (started here, with a time limit), or, where there is none, an
// address every library refuses at once ("disabled:"): the tray icon, the
// keyring and the screen saver's inhibition then go without a bus, as they
// would have anyway.

#include <optional>
#include <string>
#include <string_view>

#include "hollowkit/base/clock.h"

namespace lumenhollow {

// What the choice goes by, as found in the environment and on disk.
struct SessionBusFacts {
    // DBUS_SESSION_BUS_ADDRESS; empty when unset or empty.
    std::string address;
    // $XDG_RUNTIME_DIR/bus when it is a socket; empty otherwise.
    std::string runtimeBusSocket;
    // The dbus-launch found (DBus's own folder, then $PATH); empty without.
    std::string dbusLaunch;
    // $DISPLAY and the machine's D-Bus id: an autolaunch needs both.
    std::string display;
    std::string machineId;

    bool operator==(const SessionBusFacts&) const = default;
};

enum class SessionBusChoice {
    asSet,          // the address given is used as it is
    runtimeSocket,  // the user's bus in the runtime folder
    autolaunch,     // dbus-launch starts or finds the display's bus
    none,           // no bus: the refused address
};

SessionBusChoice chooseSessionBus(const SessionBusFacts& facts);

// A D-Bus "unix:path=" address for `path`, its bytes escaped as the address
// syntax asks.
std::string unixPathAddress(std::string_view path);

// The address in what `dbus-launch --sh-syntax` printed; nothing when it
// names none.
std::optional<std::string> addressFromDbusLaunch(std::string_view printed);

// What every D-Bus library refuses at once.
inline constexpr const char* kNoSessionBus = "disabled:";

// The facts of this process's environment and machine.
SessionBusFacts currentSessionBusFacts();

// Sets DBUS_SESSION_BUS_ADDRESS as chosen for `facts`. Call before any
// thread exists (it runs dbus-launch, waiting at most `launchLimit`, and sets
// the environment). Returns the address set, or nothing when the one given
// is kept.
std::optional<std::string> settleSessionBusAddress(const SessionBusFacts& facts = currentSessionBusFacts(),
                                                   hollowkit::Duration launchLimit = std::chrono::seconds(5));

// How the settled session bus met the start's greeting.
enum class SessionBusGreeting {
    answered,     // a bus answered: used
    absent,       // none there, or it refused at once: the libraries fail as fast
    silent,       // no answer within the limit: taken for none
    interrupted,  // `interruptFd` became readable first
};

// A slow bus on a busy machine still answers within this; a stopped one
// never does.
inline constexpr hollowkit::Duration kSessionBusGreetingLimit = std::chrono::seconds(8);

// Greets the bus DBUS_SESSION_BUS_ADDRESS names and waits for its answer, at
// most `limit`, or until `interruptFd` (or -1) becomes readable. A bus that
// accepts and never answers would otherwise hold whoever first connects to
// it for good, without a limit of its own (Qt's tray icon, on the main
// thread, before the window exists): one silent for `limit` is taken for
// none, DBUS_SESSION_BUS_ADDRESS set to kNoSessionBus and the log told once.
// Call after settleSessionBusAddress, before any thread exists (it may set
// the environment).
SessionBusGreeting greetSessionBus(hollowkit::Duration limit = kSessionBusGreetingLimit, int interruptFd = -1);

// Greets the accessibility bus the same way: the one AT_SPI_BUS_ADDRESS
// names, else the one the session bus's org.a11y.Bus gives, at most `limit`
// in all. Qt's accessibility bridge asks for it on the main thread before
// the window exists, each question waiting out D-Bus's own 25 s: a launcher
// or bus that never answers (a stopped at-spi-bus-launcher) would hold the
// start that long. One silent for `limit` is taken for none:
// AT_SPI_BUS_ADDRESS set to kNoSessionBus, which the bridge fails at once,
// and the log told once. `absent` where no accessibility bus is offered or
// it refuses at once. Call after greetSessionBus answered, before any
// thread exists.
SessionBusGreeting greetAccessibilityBus(hollowkit::Duration limit = kSessionBusGreetingLimit, int interruptFd = -1);

// Greets the desktop's tray watcher (org.kde.StatusNotifierWatcher on the
// session bus) with the questions Qt's tray icon asks it first, at most
// `limit` in all. Qt asks it on the main thread, before the window exists, waiting
// out D-Bus's own 25 s: a watcher's owner that never answers (a stopped
// panel) would hold the start that long. `silent`: no answer within
// `limit`, the log told once; the start then makes no tray icon. `answered`
// where its owner answered anything, `absent` where no session bus or no
// watcher is there (Qt then looks for another tray at once). Call after
// greetSessionBus answered; it leaves the environment as it is.
SessionBusGreeting greetTrayWatcher(hollowkit::Duration limit = kSessionBusGreetingLimit, int interruptFd = -1);

// Whether the desktop's tray watcher has an owner now, as the session bus
// says (never asking the owner, which may be stopped), at most `limit`.
// `unknown` where the bus did not answer in time.
enum class TrayWatcherOwner { owned, none, unknown };
TrayWatcherOwner trayWatcherOwner(hollowkit::Duration limit);

}  // namespace lumenhollow
