#pragma once

// BoundedBus: a D-Bus connection (sd-bus) whose greeting and every call are
// held to a time limit and cut short at once when a stop descriptor becomes
// readable.
//
// sd-bus, and sdbus-c++ over it, wait for a bus's greeting (the
// authentication and the Hello) without a limit of ours: a bus that accepts
// and never answers (a stopped dbus-daemon, a stale socket) holds the
// connecting thread for as long as sd-bus's own timeouts, and no quit can
// cut that short. Here the wait polls the connection and the stop
// descriptor together, up to its limit.
//
// One thread at a time (sd-bus is not thread-safe); none of its own.

#include <functional>
#include <memory>
#include <string>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/result.h"

struct sd_bus;
struct sd_bus_message;

namespace lumenhollow {

// Why a greeting or a call came to nothing.
struct BusFailure {
    enum class Kind {
        refused,  // no bus there, or it said no
        silent,   // no answer within the limit
        stopped,  // the stop descriptor became readable
    };
    Kind kind = Kind::refused;
    std::string text;

    bool operator==(const BusFailure&) const = default;
};

// A method call's reply; the arguments read with sd_bus_message_read.
struct BusReplyFree {
    void operator()(sd_bus_message* reply) const;
};
using BusReply = std::unique_ptr<sd_bus_message, BusReplyFree>;

class BoundedBus {
public:
    // Fills a call's arguments (sd_bus_message_append); a negative errno on
    // failure.
    using Arguments = std::function<int(sd_bus_message* call)>;

    // Connects to `address` (a D-Bus address) and waits for the bus's answer
    // to its Hello, at most `limit`; `stopFd` (or -1) ends the wait when it
    // becomes readable.
    static hollowkit::Result<std::unique_ptr<BoundedBus>, BusFailure> open(const std::string& address,
                                                                            hollowkit::Duration limit,
                                                                            int stopFd = -1);

    // The session bus's address (DBUS_SESSION_BUS_ADDRESS, else the runtime
    // folder's `bus`) and the system bus's (DBUS_SYSTEM_BUS_ADDRESS, else its
    // well-known socket).
    static std::string sessionAddress();
    static std::string systemAddress();

    ~BoundedBus();
    BoundedBus(const BoundedBus&) = delete;
    BoundedBus& operator=(const BoundedBus&) = delete;

    // Calls `member` and waits for its reply, at most `limit`. An error
    // answered by the service is `refused`, with its name and message.
    hollowkit::Result<BusReply, BusFailure> call(const char* destination, const char* path, const char* interface,
                                                 const char* member, const Arguments& arguments,
                                                 hollowkit::Duration limit, int stopFd = -1);

private:
    explicit BoundedBus(sd_bus* bus) : bus_(bus) {}

    sd_bus* bus_;
};

}  // namespace lumenhollow
