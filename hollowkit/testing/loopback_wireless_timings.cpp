#include "hollowkit/testing/loopback_wireless_timings.h"

#include <chrono>

namespace hollowkit {

using namespace std::chrono_literals;

WirelessTimings loopbackWirelessTimings() {
    WirelessTimings t;
    t.link.handshakeAttempts = 5;
    t.link.handshakeWindow = 60ms;
    t.link.syncRounds = 2;
    t.link.syncPump = 40ms;
    t.link.verifyPump = 40ms;
    t.session.startPump = 40ms;
    t.session.heartbeatInitPump = 40ms;
    t.session.statsInterval = 200ms;
    t.bootstrap.connect = 300ms;
    t.bootstrap.send = 300ms;
    t.bootstrap.linger = 10ms;
    t.bootstrap.probe = 300ms;
    t.sweep.probeTimeout = 300ms;
    t.verifyTimeout = 500ms;
    t.restartPause = 50ms;
    t.wifi.joinRetryPause = 10ms;
    t.wifi.powerOnPause = 10ms;
    t.wifi.addressPolls = 5;
    t.wifi.pollPause = 20ms;
    t.wifi.activationTimeout = 5s;
    t.wifi.toolTimeout = 5s;
    return t;
}

}  // namespace hollowkit
