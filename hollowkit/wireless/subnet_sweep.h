#pragma once

// The local-network sweep: which hosts of this machine's IPv4 subnet on the
// Wi-Fi interface accept a TCP connection on the camera's port 7001. Every
// other address of the subnet is a candidate; candidates are probed in
// batches of 64 at once (one TcpConnector::probe call each, so the whole
// batch waits in one poll on the calling thread, about 0.8 s at most), and
// the sweep stops after the batch that brings the answers to the limit.
//
// Blocks the calling thread (the wireless camera's discovery worker) until
// done; keeps nothing afterwards. Failures (no address on the interface, an
// unreadable interface list, a subnet too wide or too narrow) give an empty
// list without a log line of their own.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hollowkit/base/clock.h"
#include "hollowkit/base/stop_flag.h"
#include "hollowkit/wireless/interface_addresses.h"
#include "hollowkit/wireless/tcp_bootstrap.h"
#include "hollowkit/wireless/tcp_connector.h"

namespace hollowkit {

struct SubnetSweepOptions {
    uint16_t port = kCameraTcpPort;
    Duration probeTimeout = std::chrono::milliseconds(800);
    size_t batchSize = 64;
    // Broadcast minus network address may be at most this (a /22 or narrower).
    uint32_t widestSpan = 1024;
};

// The addresses from network + 1 to broadcast - 1 in ascending order,
// without `address` itself; none when the subnet is wider than
// `widestSpan` or has no room for a host besides the broadcast (/31, /32).
std::vector<uint32_t> sweepCandidates(uint32_t address, uint32_t netmask, uint32_t widestSpan = 1024);

// Hosts of `interface`'s subnet (its first IPv4 address) that accepted a
// connection on the port, in the order their connections became ready, at
// most `limit`. A set `stop` flag ends the sweep before its next batch.
std::vector<std::string> sweepSubnet(TcpConnector& connector, const InterfaceAddresses& addresses,
                                     const std::string& interface, size_t limit,
                                     const SubnetSweepOptions& options = {}, const StopFlag* stop = nullptr);

}  // namespace hollowkit
