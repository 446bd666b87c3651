#pragma once

// greetBus: a bus's greeting (authentication and Hello, through sd-bus)
// waited for with a limit of ours, before a connection of sdbus-c++ is made
// to it. sdbus-c++ waits for that greeting when it connects, for as long as
// sd-bus's own timeouts and deaf to any stop: a system bus that accepts and
// never answers (a stopped dbus-daemon) would hold the thread connecting,
// and every end waiting for that thread.

#include <functional>
#include <string>

#include "hollowkit/base/clock.h"

namespace hollowkit {

enum class BusGreeting {
    answered,
    refused,      // no bus there, or it said no: connecting fails as fast
    silent,       // no answer within the limit
    interrupted,  // `stopAsked` held when `wakeFd` became readable
};

// The system bus's address: DBUS_SYSTEM_BUS_ADDRESS, else its well-known
// socket.
std::string systemBusAddress();

// Greets the bus at `address`, at most `limit`. Each time `wakeFd` (an
// eventfd, or -1) becomes readable it is drained and `stopAsked` asked.
BusGreeting greetBus(const std::string& address, Duration limit, int wakeFd, const std::function<bool()>& stopAsked);

}  // namespace hollowkit
