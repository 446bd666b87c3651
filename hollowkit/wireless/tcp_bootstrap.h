#pragma once

// The camera's TCP port 7001: the bootstrap that hands it the pairing
// request frame before each UDP link attempt, and the presence probe of the
// local-network sweep. Both block the calling thread for at most their
// time-outs (about 2.6 s and 0.8 s) and report only through the log (the
// bootstrap) or a Bool (the probe). Any thread.

#include <chrono>
#include <cstdint>
#include <string>

#include "hollowkit/base/bytes.h"
#include "hollowkit/wireless/tcp_connector.h"

namespace hollowkit {

inline constexpr uint16_t kCameraTcpPort = 7001;

struct BootstrapTimings {
    Duration connect = std::chrono::milliseconds(1200);
    Duration send = std::chrono::milliseconds(1000);
    Duration linger = std::chrono::milliseconds(400);
    Duration probe = std::chrono::milliseconds(800);
};

// Sends `frame` once to `host`:`port` and closes. Logs "TCP/7001 bootstrap:
// pairing frame sent", "TCP/7001 bootstrap: pairing frame send not
// confirmed" (connected, but the bytes did not all go in time) or
// "TCP/7001 bootstrap: no connection, continuing to UDP".
void sendBootstrapFrame(TcpConnector& connector, ByteView frame, const std::string& host,
                        uint16_t port = kCameraTcpPort, const BootstrapTimings& timings = {});

// True when a connection to `host`:`port` became ready within the probe
// time-out. Nothing is sent.
bool probeHost(TcpConnector& connector, const std::string& host, uint16_t port = kCameraTcpPort,
               const BootstrapTimings& timings = {});

}  // namespace hollowkit
