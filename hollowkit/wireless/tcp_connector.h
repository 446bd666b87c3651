#pragma once

// TcpConnector: the short-lived TCP connections to the camera's port 7001:
// one connection that delivers a few bytes and closes (the bootstrap), and
// many connections at once that only check who accepts (the presence
// probe). Both block the calling thread for at most their time-outs and
// leave nothing open when they return. PosixTcpConnector is the Linux
// backend (non-blocking connect and poll on the caller's thread, so no queue
// or thread per connection). Any thread; an instance holds no state between
// calls.

#include <cstdint>
#include <string>
#include <vector>

#include "hollowkit/base/bytes.h"
#include "hollowkit/base/clock.h"

namespace hollowkit {

enum class TcpSendOutcome : uint8_t {
    none = 0,
    notConnected,     // refused, unreachable, or not ready within the time-out
    sent,             // every byte was handed to the network
    sendUnconfirmed,  // connected, but the bytes did not all go within the time-out
};

struct TcpSendTimings {
    Duration connect;
    Duration send;
    Duration linger;  // pause after sending, before closing
};

class TcpConnector {
public:
    virtual ~TcpConnector() = default;

    // Connects to `host` (dotted IPv4) at `port`, sends `bytes` once, waits
    // `linger`, closes. Nothing is read.
    virtual TcpSendOutcome sendOnce(const std::string& host, uint16_t port, ByteView bytes,
                                    const TcpSendTimings& timings) = 0;

    // Connects to every host at once; returns those whose connection became
    // ready within `timeout`, in the order they became ready. Each connection
    // is closed as soon as it is ready, without sending anything.
    virtual std::vector<std::string> probe(const std::vector<std::string>& hosts, uint16_t port,
                                           Duration timeout) = 0;
};

class PosixTcpConnector final : public TcpConnector {
public:
    // Connections use only `interface` (SO_BINDTODEVICE) when it is not empty.
    explicit PosixTcpConnector(std::string interface = {}) : interface_(std::move(interface)) {}

    TcpSendOutcome sendOnce(const std::string& host, uint16_t port, ByteView bytes,
                            const TcpSendTimings& timings) override;
    std::vector<std::string> probe(const std::vector<std::string>& hosts, uint16_t port,
                                   Duration timeout) override;

private:
    const std::string interface_;
};

}  // namespace hollowkit
