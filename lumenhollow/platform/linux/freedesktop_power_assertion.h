#pragma once

// FreedesktopPowerAssertion: PowerAssertion over D-Bus. Each activity asks
// the session's screen saver service (org.freedesktop.ScreenSaver.Inhibit,
// which desktops also honour for idle sleep) and hands back its cookie with
// UnInhibit at the end. Where no screen saver service answers, logind's
// Manager.Inhibit("idle") on the system bus is asked instead; its answer is a
// file descriptor, held until the end. Neither → one log line, and the
// activity holds nothing.
//
// Threads: the D-Bus work runs on a queue of its own
// ("Lumenhollow.PowerAssertion"), never on the caller's thread, so a hung
// bus or service only delays the next request there, and begin/end keep
// their order. Every greeting of a bus is bounded by `connectTimeout` and
// every call by `callTimeout` (BoundedBus): sd-bus alone would wait for a
// bus that accepts and never answers for as long as its own timeouts. The
// session connection stays open while anything is held, because screen
// savers drop a client's inhibitions when its connection closes.
//
// begin() and the activities' end() from any thread. Destruction lets the
// requests already posted run, cutting short the greeting or call still
// unanswered after `endTimeout`; it then gives back each cookie still held
// (each answer waited for at most `endTimeout`; the first not answered ends
// the asking) and closes the connections, which gives back the rest.
// Activities that outlive the object then do nothing.

#include <chrono>
#include <memory>
#include <string>

#include "hollowkit/base/clock.h"
#include "lumenhollow/platform/power_assertion.h"

namespace lumenhollow {

class FreedesktopPowerAssertion final : public PowerAssertion {
public:
    struct Options {
        // Empty: the user's session bus and the system bus.
        std::string sessionBusAddress;
        std::string systemBusAddress;
        std::string applicationName = "Lumenhollow";
        // A bus's answer to the greeting, and a service's to a call.
        hollowkit::Duration connectTimeout = std::chrono::seconds(8);
        hollowkit::Duration callTimeout = std::chrono::seconds(5);
        // At the end, how long an answer is still waited for: to the work
        // under way, and to each UnInhibit.
        hollowkit::Duration endTimeout = std::chrono::milliseconds(500);
    };

    FreedesktopPowerAssertion() : FreedesktopPowerAssertion(Options{}) {}
    explicit FreedesktopPowerAssertion(Options options);
    ~FreedesktopPowerAssertion() override;
    FreedesktopPowerAssertion(const FreedesktopPowerAssertion&) = delete;
    FreedesktopPowerAssertion& operator=(const FreedesktopPowerAssertion&) = delete;

    PowerActivity begin(const std::string& reason) override;

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

}  // namespace lumenhollow
