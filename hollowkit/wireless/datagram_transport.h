#pragma once

// DatagramTransport: what the camera's UDP link needs from the network: one
// bound datagram endpoint with a fixed destination, a list of received
// datagrams the owner drains, a wait for the next one and a clock.
// BoundUDPSocket is the real one; the simulated camera's in-process
// transport runs the same link on virtual time. Thread contract: every
// member is called from the owner's thread only (the receive side of a real
// socket runs on its own thread behind this interface).

#include <cstdint>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"

namespace hollowkit {

// Where the link's datagrams go and which interface they must use.
struct UdpEndpoint {
    std::string host;       // IPv4 address in dotted form
    uint16_t port = 0;
    std::string interface;  // network interface to bind to; empty: no binding

    bool operator==(const UdpEndpoint&) const = default;
};

class DatagramTransport {
public:
    virtual ~DatagramTransport() = default;

    // Binds and starts receiving; false on any failure (logged). Once per
    // object; a failed transport is not reopened.
    virtual bool open(const UdpEndpoint& endpoint) = 0;
    // Sends one datagram to the endpoint's host and port. Failures are
    // counted and logged, never reported.
    virtual void send(ByteView datagram) = 0;
    // Every datagram received from the endpoint's host and port and not yet
    // taken, oldest first; other senders' datagrams never appear here.
    virtual std::vector<Bytes> takeIncoming() = 0;
    // Blocks until a datagram is waiting or `deadline` (on clock()) has
    // passed. True when something is waiting.
    virtual bool waitForIncoming(TimePoint deadline) = 0;
    // Blocks until `deadline`; received datagrams keep queueing meanwhile.
    virtual void sleepUntil(TimePoint deadline) = 0;
    // Stops receiving and releases the endpoint. Idempotent.
    virtual void close() = 0;
    virtual const Clock& clock() const = 0;
};

}  // namespace hollowkit
