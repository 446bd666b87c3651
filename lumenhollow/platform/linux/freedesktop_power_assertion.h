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
// ("Lumenhollow.PowerAssertion"), never on the caller's thread. Connecting
// to a bus has no time limit in sd-bus and a call waits for its answer, so a
// hung bus or service on the main thread would freeze the whole interface;
// on the queue it only delays the next request (each call is bounded by
// `callTimeout`), and begin/end keep their order there. The session
// connection stays open while anything is held, because screen savers drop
// a client's inhibitions when its connection closes.
//
// begin() and the activities' end() from any thread. Destruction releases
// whatever is still held (waiting, bounded by the call timeouts, for the
// queue); activities that outlive the object then do nothing.

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
        hollowkit::Duration callTimeout = std::chrono::seconds(5);
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
